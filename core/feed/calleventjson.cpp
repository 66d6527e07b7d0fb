#include "core/feed/calleventjson.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "core/text/cp949.h"

const char* CallEventKindName(CallEventKind kind) {
  switch (kind) {
    case CallEventKind::Ring:
      return "ring";
    case CallEventKind::Answer:
      return "answer";
    case CallEventKind::End:
      break;
  }
  return "end";
}

QByteArray CallEventJson(const CallEvent& event, const QString& relayName) {
  // The local time with its offset, so that events of relays in different
  // zones sort and compare.
  const QDateTime time = event.time.toOffsetFromUtc(event.time.offsetFromUtc());
  const QJsonObject object{
      {QStringLiteral("type"), QStringLiteral("call")},
      {QStringLiteral("version"), kCallEventSchemaVersion},
      {QStringLiteral("event"), QLatin1String(CallEventKindName(event.kind))},
      {QStringLiteral("callId"), FromCp949(event.callId)},
      {QStringLiteral("relay"), relayName},
      {QStringLiteral("account"), event.slot + 1},
      {QStringLiteral("extension"), QString::number(event.extension)},
      {QStringLiteral("caller"), FromCp949(event.caller)},
      {QStringLiteral("inbound"), FromCp949(event.inbound)},
      {QStringLiteral("dialled"), event.dialled},
      {QStringLiteral("time"), time.toString(Qt::ISODate)},
  };
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
