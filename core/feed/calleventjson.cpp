#include "core/feed/calleventjson.h"

#include "core/text/cp949.h"
#include "core/text/isodatetime.h"
#include "core/text/jsonobjectwriter.h"

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
  const qint64 msecs = event.time.toMSecsSinceEpoch();
  const int offset =
      event.time.timeSpec() == Qt::LocalTime ? LocalOffsetAt(msecs) : event.time.offsetFromUtc();
  // Written by hand for every event of every output, as QJsonDocument
  // wrote it at several times the cost: the names in order, as it sorts them.
  JsonObjectWriter json;
  json.AddNumber("account", event.slot + 1);
  json.AddString("callId", FromCp949(event.callId).toUtf8());
  json.AddString("caller", FromCp949(event.caller).toUtf8());
  json.AddBool("dialled", event.dialled);
  json.AddString("event", CallEventKindName(event.kind));
  json.AddString("extension", QByteArray::number(event.extension));
  json.AddString("inbound", FromCp949(event.inbound).toUtf8());
  json.AddString("relay", relayName.toUtf8());
  json.AddString("time", IsoDateTime(msecs, offset));
  json.AddString("type", "call");
  json.AddNumber("version", kCallEventSchemaVersion);
  return json.Finish();
}
