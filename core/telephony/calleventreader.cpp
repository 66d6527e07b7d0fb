#include "core/telephony/calleventreader.h"

#include "core/text/eventtext.h"

namespace {

constexpr qsizetype kPeerExtensionLength = 3;

CallEvent Event(CallEventKind kind, int slot, qint32 extension, const QByteArray& text,
                const QDateTime& time) {
  CallEvent event;
  event.kind = kind;
  event.slot = slot;
  event.extension = extension;
  event.inbound = GetEventField(text, "INEXTEN", 1, '|');
  event.callId = GetEventField(text, "UNIQUEID", 1, '|');
  event.time = time;
  event.text = text;
  return event;
}

}  // namespace

std::optional<CallEvent> ReadRing(int slot, qint32 extension, const QByteArray& text,
                                  const QDateTime& time) {
  if (GetEventField(text, "ISDIAL", 1, '|') == "1") return std::nullopt;
  CallEvent event = Event(CallEventKind::Ring, slot, extension, text, time);
  event.caller = GetEventField(text, "CALLERID", 1, '|');
  return event;
}

CallEvent ReadAnswer(int slot, qint32 extension, const QByteArray& text, const QDateTime& time) {
  CallEvent event = Event(CallEventKind::Answer, slot, extension, text, time);
  event.caller = GetEventField(text, "CALLER1ID", 1, '|');
  const QByteArray peer = GetEventField(text, "CHANNEL1:SIP/", 0, '-');
  event.dialled = ParseLooseInt(LastBytes(peer, kPeerExtensionLength)) == extension;
  return event;
}

CallEvent ReadCallEnd(int slot, qint32 extension, const QDateTime& time) {
  CallEvent event;
  event.kind = CallEventKind::End;
  event.slot = slot;
  event.extension = extension;
  event.time = time;
  return event;
}
