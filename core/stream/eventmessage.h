#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

#include "core/callevent/callevent.h"

// One call event as it waits in the event outbox: its routing key
// "<relay>.<extension>.<ring|answer|end>" and its JSON text.
struct EventMessage {
  QByteArray routingKey;
  QByteArray body;

  static EventMessage Of(const CallEvent& event, const QString& relayName);
  // The routing key, a line feed, the body.
  QByteArray Encode() const;
  // nullopt unless the bytes are one encoded message.
  static std::optional<EventMessage> Decode(QByteArrayView bytes);
};
