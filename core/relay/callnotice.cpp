#include "core/relay/callnotice.h"

#include <QtEndian>
#include <cstring>

namespace {

constexpr qsizetype kCallerIdCapacity = sizeof(CallNotice::callerId);
// Where the fields stand in the record.
constexpr int kAccountExtOffset = 0;
constexpr int kInExtenOffset = 4;
constexpr int kCallerIdOffset = 8;
constexpr int kStateOffset = 20;

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
  qToLittleEndian(notice.accountExt, out + kAccountExtOffset);
  qToLittleEndian(notice.inExten, out + kInExtenOffset);
  std::memcpy(out + kCallerIdOffset, notice.callerId, sizeof(notice.callerId));
  qToLittleEndian(notice.state, out + kStateOffset);
  return bytes;
}

CallNotice DecodeCallNotice(QByteArrayView record) {
  char bytes[kCallNoticeSize] = {};
  if (!record.isEmpty()) {
    std::memcpy(bytes, record.data(), size_t(qMin<qsizetype>(record.size(), kCallNoticeSize)));
  }
  CallNotice notice;
  notice.accountExt = qFromLittleEndian<qint32>(bytes + kAccountExtOffset);
  notice.inExten = qFromLittleEndian<qint32>(bytes + kInExtenOffset);
  std::memcpy(notice.callerId, bytes + kCallerIdOffset, sizeof(notice.callerId));
  notice.state = qFromLittleEndian<qint32>(bytes + kStateOffset);
  return notice;
}

QByteArray CallerIdText(const CallNotice& notice) {
  return QByteArray(notice.callerId, TextLength(notice.callerId, kCallerIdCapacity));
}
