#include "bench/loadphase.h"

#include <unistd.h>

#include <QEventLoop>
#include <QTimer>

#include "bench/callfeed.h"
#include "bench/clientfleet.h"
#include "bench/procstats.h"
#include "bench/ringledger.h"

namespace {

constexpr int kTickMs = 1;
// Events per ring in the mix: ring, pick-up, call end.
constexpr double kEventsPerRing = 3;
constexpr int64_t kStallNs = 15'000'000'000;

}  // namespace

PhaseResult RunPhase(CallFeed& feed, RingLedger& ledger, const ClientFleet& fleet, pid_t relay,
                     const PhasePlan& plan) {
  PhaseResult result;
  result.firstRing = ledger.Sent();
  const int64_t firstEvent = feed.EventsSent();
  const double cpuBefore = CpuSecondsOf(relay);
  const double driverCpuBefore = CpuSecondsOf(getpid());
  const int64_t started = NowNs();
  int64_t lastProgressNs = started;
  int64_t lastCompleted = ledger.Completed();
  bool sending = true;

  QEventLoop loop;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(kTickMs);
  QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
    const int64_t now = NowNs();
    const double elapsed = double(now - started) / 1e9;
    const int64_t sent = feed.EventsSent() - firstEvent;
    if (sending && ((plan.seconds > 0 && elapsed >= plan.seconds) ||
                    (plan.events > 0 && sent >= plan.events) || (plan.over && plan.over()))) {
      sending = false;
    }
    if (sending) {
      int64_t due = plan.events > 0 ? plan.events : INT64_MAX;
      if (plan.ringsPerSecond > 0) {
        due = std::min(due, int64_t(elapsed * plan.ringsPerSecond * kEventsPerRing));
      }
      for (int64_t n = sent; n < due; ++n) {
        if (feed.NextIsRing() && ledger.Outstanding() >= plan.window) break;
        feed.SendNext();
      }
    }
    if (ledger.Completed() != lastCompleted) {
      lastCompleted = ledger.Completed();
      lastProgressNs = now;
    }
    if (fleet.Lost() > 0) {
      result.error = QStringLiteral("the relay closed %1 clients").arg(fleet.Lost());
      loop.quit();
    } else if (ledger.Outstanding() > 0 && now - lastProgressNs > kStallNs) {
      result.error = QStringLiteral("no ring delivered for %1 s, %2 outstanding")
                         .arg(kStallNs / 1'000'000'000)
                         .arg(ledger.Outstanding());
      loop.quit();
    } else if (!sending && ledger.Outstanding() == 0) {
      result.ok = true;
      loop.quit();
    }
  });
  ticker.start();
  loop.exec();

  result.seconds = double(NowNs() - started) / 1e9;
  result.events = feed.EventsSent() - firstEvent;
  result.endRing = ledger.Sent();
  result.relayCpuSeconds = CpuSecondsOf(relay) - cpuBefore;
  result.driverCpuSeconds = CpuSecondsOf(getpid()) - driverCpuBefore;
  return result;
}
