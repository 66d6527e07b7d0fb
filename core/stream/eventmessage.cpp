#include "core/stream/eventmessage.h"

#include "core/feed/calleventjson.h"

namespace {

// An AMQP short string; the rest of the key takes at most a few dozen.
constexpr qsizetype kMaxRelayNameInKey = 200;

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

QByteArray EventMessage::Encode() const { return routingKey + '\n' + body; }

std::optional<EventMessage> EventMessage::Decode(QByteArrayView bytes) {
  const qsizetype end = bytes.indexOf('\n');
  if (end <= 0 || end > 255) return std::nullopt;
  return EventMessage{bytes.first(end).toByteArray(), bytes.sliced(end + 1).toByteArray()};
}
