#include "core/db/calldatabase.h"

namespace {

// The values were C strings once: nothing after a NUL belongs to them. In CP949
// no byte of a two-byte character is a quote, so doubling bytes is safe.
QByteArray QuotedValue(const QByteArray& value) {
  const qsizetype end = value.indexOf('\0');
  QByteArray text = end < 0 ? value : value.left(end);
  return '\'' + text.replace('\'', "''") + '\'';
}

}  // namespace

std::string BuildCallText(int centerId, const QByteArray& caller, const QByteArray& inboundTail,
                          const QByteArray& accountExt) {
  const QByteArray text = "{Call cid_CallInWrite(" + QByteArray::number(centerId) + ',' +
                          QuotedValue(caller) + ',' + QuotedValue(inboundTail) + ',' +
                          QuotedValue(accountExt) + ")}";
  return text.toStdString();
}
