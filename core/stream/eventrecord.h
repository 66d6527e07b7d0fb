#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

#include "core/callevent/callevent.h"

// A call event as it waits in the event outbox: the fields its message is
// made of, in a few bytes, so that the event loop formats nothing for the
// stream; the publisher thread makes the routing key and the JSON from it.
QByteArray EncodeEventRecord(const CallEvent& event);
// nullopt unless the bytes are one encoded event.
std::optional<CallEvent> DecodeEventRecord(QByteArrayView payload);
