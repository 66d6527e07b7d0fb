#pragma once

#include <QByteArray>
#include <QDateTime>
#include <optional>

#include "core/callevent/callevent.h"

// The call events of a telephony control read into one value each. text is
// the event's text in CP949; extension the account's own extension number.

// None for a ring the account dials itself (ISDIAL 1): such a call is not
// shown, logged, recorded or relayed anywhere.
std::optional<CallEvent> ReadRing(int slot, qint32 extension, const QByteArray& text,
                                  const QDateTime& time);
// A pick-up; dialled when the channel's peer is the account's own line.
CallEvent ReadAnswer(int slot, qint32 extension, const QByteArray& text, const QDateTime& time);
// The end of a call; its text is not read.
CallEvent ReadCallEnd(int slot, qint32 extension, const QDateTime& time);
