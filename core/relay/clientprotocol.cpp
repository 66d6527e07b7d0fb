#include "core/relay/clientprotocol.h"

#include <QString>
#include <QtEndian>

#include "core/text/cp949.h"
#include "core/text/eventtext.h"

namespace {

constexpr quint32 kRegisterAck = 0x00FE5511;

// "%03d"-like lead of both LDK505 lines: the padding is chosen by value, so a
// negative number still gets two zeros ("00-5").
QByteArray LdkLineHead(const CallNotice& notice) {
  const qint32 n = notice.inExten % 1000;  // keeps the sign; defined for every qint32
  const char* padding = n < 10 ? "00" : n < 100 ? "0" : "";
  return padding + QByteArray::number(n) + " : " + CallerIdText(notice);
}

}  // namespace

QByteArray GreetingText() {
  return ToCp949(QStringLiteral("============ Orvana Tarvex로 접속 되었습니다. ============\n"));
}

QByteArray RegisterAck() {
  QByteArray bytes(sizeof(kRegisterAck), '\0');
  qToLittleEndian(kRegisterAck, bytes.data());
  return bytes;
}

QByteArray ReceivedText(const QByteArray& bytes) {
  const qsizetype nul = bytes.indexOf('\0');
  return nul < 0 ? bytes : bytes.left(nul);
}

qint32 LeadingInt(const QByteArray& text) { return SaturateToInt32(LeadingDecimal(text)); }

// A copy of its own: the text it is cut from shares the whole read buffer,
// kilobytes for every row a client files.
QByteArray CutRegistrationText(const QByteArray& text) {
  return QByteArray(text.constData(), qMin(text.size(), qsizetype(kMaxRegistrationBytes)));
}

QByteArray LdkRingLine(const CallNotice& notice) { return '\x07' + LdkLineHead(notice) + '\n'; }

QByteArray LdkNoticeLine(const CallNotice& notice) {
  return "\x06\x06" + LdkLineHead(notice) + " ->  " + QByteArray::number(notice.accountExt) + '\n';
}

QByteArray NoticeColumnText(const CallNotice& notice) {
  return QByteArray::number(notice.accountExt) + '-' + QByteArray::number(notice.inExten);
}
