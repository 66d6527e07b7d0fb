#pragma once

#include "core/callevent/callevent.h"
#include "core/callevent/calloutcome.h"

// Something the relay tells about calls: the accounts list, the activity
// log, the client ports, the call recorder. Each owns its state and its
// limits; the core hands every event to each in turn.
class CallEventOutput {
 public:
  virtual ~CallEventOutput() = default;
  virtual void Deliver(const CallEvent& event, const CallOutcome& outcome) = 0;
};
