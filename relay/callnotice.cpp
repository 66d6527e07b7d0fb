#include "relay/callnotice.h"

#include <QtEndian>
#include <cstring>

namespace {

constexpr qsizetype kCallerIdCapacity = sizeof(CallNotice::callerId);

qsizetype TextLength(const char* bytes, qsizetype size) {
  const void* nul = std::memchr(bytes, '\0', size_t(size));
  return nul ? static_cast<const char*>(nul) - bytes : size;
}

}  // namespace

CallNotice MakeCallNotice(qint32 accountExt, qint32 inExten, const QByteArray& callerId,
                          qint32 state) {
  CallNotice notice;
  notice.accountExt = accountExt;
  notice.inExten = inExten;
  notice.state = state;
  // One byte stays for the NUL; the rest stays zero so no stale bytes go out.
  const qsizetype length =
      qMin(TextLength(callerId.constData(), callerId.size()), kCallerIdCapacity - 1);
  std::memcpy(notice.callerId, callerId.constData(), size_t(length));
  return notice;
}

QByteArray EncodeCallNotice(const CallNotice& notice) {
  QByteArray bytes(kCallNoticeSize, '\0');
  char* out = bytes.data();
  qToLittleEndian(notice.accountExt, out);
  qToLittleEndian(notice.inExten, out + 4);
  std::memcpy(out + 8, notice.callerId, sizeof(notice.callerId));
  qToLittleEndian(notice.state, out + 20);
  return bytes;
}

QByteArray CallerIdText(const CallNotice& notice) {
  return QByteArray(notice.callerId, TextLength(notice.callerId, kCallerIdCapacity));
}
