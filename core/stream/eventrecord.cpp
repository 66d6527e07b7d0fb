#include "core/stream/eventrecord.h"

#include "core/outbox/payloadfields.h"
#include "core/text/isodatetime.h"

namespace {

// Sets these records apart from those of earlier relays, which held the
// message itself: it starts with a routing key, never with a NUL.
constexpr char kMagic[] = {'\0', 'E', 'V', '1'};

}  // namespace

QByteArray EncodeEventRecord(const CallEvent& event) {
  QByteArray bytes(kMagic, sizeof kMagic);
  AppendLittleEndian<quint8>(bytes, quint8(event.kind));
  AppendLittleEndian<quint8>(bytes, event.dialled);
  AppendLittleEndian<qint32>(bytes, event.slot);
  AppendLittleEndian<qint32>(bytes, event.extension);
  // The instant, and the offset only when it is not the local one: finding
  // the local offset costs a time-zone look-up, which the publisher makes
  // for the instant when it formats the time.
  const bool local = event.time.timeSpec() == Qt::LocalTime;
  AppendLittleEndian<quint8>(bytes, local);
  AppendLittleEndian<qint64>(bytes, event.time.toMSecsSinceEpoch());
  AppendLittleEndian<qint32>(bytes, local ? 0 : event.time.offsetFromUtc());
  for (const QByteArray* text : {&event.caller, &event.inbound, &event.callId}) {
    AppendText(bytes, *text);
  }
  return bytes;
}

std::optional<CallEvent> DecodeEventRecord(QByteArrayView payload) {
  if (!payload.startsWith(QByteArrayView(kMagic, sizeof kMagic))) return std::nullopt;
  PayloadReader reader(payload.sliced(sizeof kMagic));
  CallEvent event;
  const quint8 kind = reader.Read<quint8>();
  event.dialled = reader.Read<quint8>() != 0;
  event.slot = reader.Read<qint32>();
  event.extension = reader.Read<qint32>();
  const bool local = reader.Read<quint8>() != 0;
  const qint64 msecs = reader.Read<qint64>();
  const qint32 offset = reader.Read<qint32>();
  event.caller = reader.ReadText();
  event.inbound = reader.ReadText();
  event.callId = reader.ReadText();
  if (!reader.AtCleanEnd() || kind > quint8(CallEventKind::End)) return std::nullopt;
  event.kind = CallEventKind(kind);
  // The local offset found here costs no look-up of the zone file, as a
  // local QDateTime's would; the message shows the same time.
  event.time = QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC,
                                              local ? LocalOffsetAt(msecs) : offset);
  return event;
}
