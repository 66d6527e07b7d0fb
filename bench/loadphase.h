#pragma once

#include <sys/types.h>

#include <QString>
#include <cstdint>
#include <functional>

class CallFeed;
class ClientFleet;
class RingLedger;

// How one stretch of load is sent.
struct PhasePlan {
  double seconds = 0;          // stop sending after this long; 0: no limit
  int64_t events = 0;          // or after this many events; 0: no limit
  double ringsPerSecond = 0;   // paced; 0: as fast as the window lets
  int window = 256;            // rings sent but not yet at every client, at most
  std::function<bool()> over;  // or once this says so
};

// What it gave, from the first event sent to the last ring delivered.
struct PhaseResult {
  bool ok = false;
  QString error;
  double seconds = 0;
  int64_t events = 0;
  int64_t firstRing = 0;  // sequence numbers [firstRing, endRing)
  int64_t endRing = 0;
  double relayCpuSeconds = 0;
  // The driver's own: near one second per second, the figures tell more
  // about the driver than about the relay.
  double driverCpuSeconds = 0;

  int64_t Rings() const { return endRing - firstRing; }
};

// Sends the plan's events through the feed on the event loop and waits until
// every ring has reached every client. Fails when the relay drops a client
// or stops delivering.
PhaseResult RunPhase(CallFeed& feed, RingLedger& ledger, const ClientFleet& fleet, pid_t relay,
                     const PhasePlan& plan);
