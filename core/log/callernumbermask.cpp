#include "core/log/callernumbermask.h"

QByteArray WithoutCallerNumber(QByteArrayView line) {
  const qsizetype start = line.indexOf(": ");
  if (start < 0) return line.toByteArray();
  const qsizetype begin = start + 2;
  qsizetype end = begin;
  while (end < line.size() && static_cast<unsigned char>(line[end]) > ' ') ++end;
  if (end == begin) return line.toByteArray();
  return line.first(begin).toByteArray() + "***" + line.sliced(end).toByteArray();
}
