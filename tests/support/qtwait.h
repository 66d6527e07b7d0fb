#pragma once

#include <functional>

// Runs the Qt event loop until condition holds or timeoutMs has passed;
// returns whether it held. Sockets, timers and queued calls make progress meanwhile.
bool WaitUntil(std::function<bool()> condition, int timeoutMs = 5000);
