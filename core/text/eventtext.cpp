#include "core/text/eventtext.h"

#include <algorithm>
#include <limits>

#include "core/text/cp949.h"

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

QByteArray GetEventField(const QByteArray& text, const QByteArray& key, int gap, char terminator) {
  const qsizetype p = Cp949Find(text, key);
  const qsizetype e = p < 0 ? -1 : Cp949Find(text, QByteArray(1, terminator), p);
  // The count is taken before the start is clipped, as a plain Mid(start, count) does.
  const qint64 start = qint64(p) + key.size() + gap;
  const qint64 count = qint64(e) - start;
  const qint64 first = qMax<qint64>(start, 0);
  if (count <= 0 || first >= text.size()) return {};
  QByteArray value = text.mid(first, qMin<qint64>(count, text.size() - first));
  // Every use of a value (length checks, comparisons, lines, records, notices)
  // must see the same text, and the C string ends at its NUL.
  const qsizetype nul = value.indexOf('\0');
  if (nul >= 0) value.truncate(nul);
  return value;
}

qint32 SaturateToInt32(qint64 value) {
  return qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(),
                                   std::numeric_limits<qint32>::max()));
}

qint64 LeadingDecimal(const QByteArray& text) {
  constexpr qint64 kCap = qint64(1) << 32;
  qsizetype i = 0;
  while (i < text.size() && IsBlank(text.at(i))) ++i;
  const bool negative = i < text.size() && text.at(i) == '-';
  if (i < text.size() && (text.at(i) == '-' || text.at(i) == '+')) ++i;
  qint64 value = 0;
  for (; i < text.size() && text.at(i) >= '0' && text.at(i) <= '9'; ++i) {
    value = qMin(value * 10 + (text.at(i) - '0'), kCap);
  }
  return negative ? -value : value;
}

qint32 ParseLooseInt(const QByteArray& text) {
  const bool negative = text.startsWith('-');
  QByteArray rest = text;
  rest.removeIf([](char c) { return c == ',' || c == '-' || c == ')'; });
  // LeadingDecimal skips the leading white space; what trails the digits never counts.
  const qint64 value = LeadingDecimal(rest);
  return SaturateToInt32(negative ? -value : value);
}

qint32 LoginStatus(const QByteArray& loginResultText) {
  return ParseLooseInt(GetEventField(loginResultText, "STATUS", 1, '|'));
}

bool LoginSucceeded(const QByteArray& loginResultText) { return LoginStatus(loginResultText) >= 1; }

QByteArray LastBytes(const QByteArray& text, qsizetype n) {
  return text.right(qMax<qsizetype>(n, 0));
}
