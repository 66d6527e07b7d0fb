#pragma once

#include "core/callevent/callevent.h"
#include "core/callevent/calloutcome.h"

// The rules of a call event: from the event and the operator's choices,
// what the accounts list, the activity list, the daily log file, the call
// record and the client notice each get. No state, no side effects.
CallOutcome DecideCallOutcome(const CallEvent& event, const CallSettings& settings);
