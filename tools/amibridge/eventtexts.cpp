#include "tools/amibridge/eventtexts.h"

#include <QRegularExpression>

#include "core/telephony/telprotocol.h"
#include "core/text/eventtext.h"
#include "tools/amibridge/agentdirectory.h"
#include "tools/telsim/servertexts.h"

namespace {

// The relay cuts a value at "|": none may hold one. The PBX writes "<unknown>"
// for a number or name it does not have.
QString Value(const QByteArray& bytes) {
  if (bytes == "<unknown>") {
    return {};
  }
  return QString::fromUtf8(bytes).replace(QLatin1Char('|'), QLatin1Char(' '));
}

// The call id stands before the fields the relay reads, which it finds
// anywhere: digits and "." only, so that no letters can spell a key.
QString CallId(const QByteArray& bytes) {
  QString id;
  for (const char c : bytes) {
    if ((c >= '0' && c <= '9') || c == '.') {
      id.append(QLatin1Char(c));
    }
  }
  return id;
}

QString LastThree(const QString& text) { return text.right(3); }

// A name field after every field the relay reads, so no name can stand in for one.
QString WithName(const QString& text, const QByteArray& name) {
  const QString value = Value(name);
  return value.isEmpty() ? text : text + QStringLiteral("CALLERNAME:%1|").arg(value);
}

}  // namespace

std::pair<QString, QString> RelayChannel(const QByteArray& channel, const QString& extension) {
  const QByteArray endpoint = ChannelEndpoint(channel);
  const qsizetype slash = endpoint.indexOf('/');
  QString peer = QString::fromUtf8(slash < 0 ? endpoint : endpoint.sliced(slash + 1));
  // The relay's channel value runs to the first "-".
  peer.replace(QLatin1Char('-'), QLatin1Char('_')).replace(QLatin1Char('|'), QLatin1Char('_'));
  if (peer.isEmpty() ||
      ParseLooseInt(LastThree(peer).toUtf8()) == ParseLooseInt(LastThree(extension).toUtf8())) {
    peer = kOutsideLinePeer;
  }
  return {peer, ChannelSerial(channel)};
}

QString ChannelSerial(const QByteArray& channel) {
  QString serial = QString::fromUtf8(channel.sliced(ChannelEndpoint(channel).size()));
  serial.remove(QLatin1Char('-')).replace(QLatin1Char('|'), QLatin1Char('_'));
  return serial.isEmpty() ? QStringLiteral("0") : serial;
}

std::pair<QString, QString> AgentEventText(const AgentEvent& event, const QString& number) {
  const QString callId = CallId(event.callId);
  switch (event.kind) {
    case AgentEvent::Kind::Ring:
      return {QString::fromLatin1(kTelRing),
              WithName(RingText(callId, Value(event.caller), Value(event.inExten), event.outgoing),
                       event.callerName)};
    case AgentEvent::Kind::Answer: {
      if (event.outgoing) {
        // The relay knows a call its account placed by its own extension in the channel.
        return {
            QString::fromLatin1(kTelHangUp),
            HangUpText(callId, Value(event.caller), Value(event.inExten),
                       QString(number).remove(QLatin1Char('-')), ChannelSerial(event.peerChannel))};
      }
      const auto [peer, serial] = RelayChannel(event.peerChannel, number);
      return {QString::fromLatin1(kTelHangUp),
              WithName(HangUpText(callId, Value(event.caller), Value(event.inExten), peer, serial),
                       event.callerName)};
    }
    case AgentEvent::Kind::End:
      return {QString::fromLatin1(kTelCallEnd), CallEndText(callId)};
  }
  return {};
}

QString JournalEventText(const QString& text) {
  static const QRegularExpression kCallerFields(
      QStringLiteral("(^|\\|)(CALLERID|CALLER1ID|CALLERNAME):[^|]*"));
  return QString(text).replace(kCallerFields, QStringLiteral("\\1\\2:*"));
}
