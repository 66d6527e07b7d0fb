#pragma once

#include <QByteArray>

#include "core/callevent/callevent.h"

// The JSON every feed of call events sends (the browser feed, and whatever
// else publishes events): one object per event, UTF-8, versioned so that
// consumers can tell a change of schema.
inline constexpr int kCallEventSchemaVersion = 1;

QByteArray CallEventJson(const CallEvent& event, const QString& relayName);

// "ring", "answer" or "end".
const char* CallEventKindName(CallEventKind kind);
