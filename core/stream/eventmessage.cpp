#include "core/stream/eventmessage.h"

#include "core/feed/calleventjson.h"
#include "core/stream/eventrecord.h"

namespace {

// An AMQP short string; the rest of the key takes at most a few dozen.
constexpr qsizetype kMaxRelayNameInKey = 200;

// Earlier relays queued the message itself: the routing key, a line feed,
// the body.
std::optional<EventMessage> QueuedMessage(QByteArrayView bytes) {
  const qsizetype end = bytes.indexOf('\n');
  if (end <= 0 || end > 255) return std::nullopt;
  return EventMessage{bytes.first(end).toByteArray(), bytes.sliced(end + 1).toByteArray()};
}

// A dot in the name would split it into more words of the topic.
QByteArray RoutingWord(const QString& relayName) {
  QByteArray word = relayName.toUtf8().left(kMaxRelayNameInKey);
  word.replace('.', '_');
  return word;
}

}  // namespace

EventMessage EventMessage::Of(const CallEvent& event, const QString& relayName) {
  return EventMessage{RoutingWord(relayName) + '.' + QByteArray::number(event.extension) + '.' +
                          CallEventKindName(event.kind),
                      CallEventJson(event, relayName)};
}

std::optional<EventMessage> EventMessage::FromRecord(QByteArrayView record,
                                                     const QString& relayName) {
  if (const std::optional<CallEvent> event = DecodeEventRecord(record)) {
    return Of(*event, relayName);
  }
  return QueuedMessage(record);
}

bool EventMessage::IsRecord(QByteArrayView record) {
  return DecodeEventRecord(record) || QueuedMessage(record);
}
