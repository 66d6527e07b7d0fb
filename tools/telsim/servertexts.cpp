#include "tools/telsim/servertexts.h"

QString LoginAcceptedText(const QString& accountId, int status, const QString& number) {
  return QStringLiteral("RESULT:LOGIN|STATUS:%1|MSG:%2,|USERID:%3|")
      .arg(status)
      .arg(number, accountId);
}

QString LoginNotFoundText(const QString& accountId) {
  return QStringLiteral("RESULT:LOGIN|STATUS:-1|MSG:USER NOT FOUND|USERID:%1|").arg(accountId);
}

QString LoginPasswordErrorText(const QString& accountId) {
  return QStringLiteral("RESULT:LOGIN|STATUS:-2|MSG:PASSWORD MISMATCH|USERID:%1|").arg(accountId);
}

QString LoginRefusedText(const QString& accountId) {
  return QStringLiteral("RESULT:LOGIN|STATUS:-2|MSG:ID OR PASSWORD WRONG|USERID:%1|")
      .arg(accountId);
}

QString LoginOutageText(const QString& accountId, const QString& reason) {
  return QStringLiteral("RESULT:LOGIN|STATUS:0|MSG:%1|USERID:%2|").arg(reason, accountId);
}

QString RingText(const QString& callId, const QString& caller, const QString& inExten,
                 bool isDial) {
  return QStringLiteral("EVENT:RING|UNIQUEID:%1|ISDIAL:%2|CALLERID:%3|INEXTEN:%4|")
      .arg(callId, isDial ? QStringLiteral("1") : QStringLiteral("0"), caller, inExten);
}

QString HangUpText(const QString& callId, const QString& caller, const QString& inExten,
                   const QString& channelPeer, const QString& channelSuffix) {
  return QStringLiteral("EVENT:HANGUP|UNIQUEID:%1|CHANNEL1:SIP/%2-%3|CALLER1ID:%4|INEXTEN:%5|")
      .arg(callId, channelPeer, channelSuffix, caller, inExten);
}

QString CallEndText(const QString& callId) {
  return QStringLiteral("EVENT:CALLEND|UNIQUEID:%1|CAUSE:16|").arg(callId);
}
