#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

#include "core/callevent/callevent.h"

// One call event as the broker gets it: its routing key
// "<relay>.<extension>.<ring|answer|end>" and its JSON text.
struct EventMessage {
  QByteArray routingKey;
  QByteArray body;

  static EventMessage Of(const CallEvent& event, const QString& relayName);
  // From a record of the event outbox; nullopt unless it is one.
  static std::optional<EventMessage> FromRecord(QByteArrayView record, const QString& relayName);
  // Whether FromRecord takes it, without making the message.
  static bool IsRecord(QByteArrayView record);
};
