// relaybench: measures the relay against the reference relay under the same
// load and prints the figures as Markdown tables. Nothing is asserted; the
// targets are reported as met or missed.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "bench/benchsession.h"
#include "bench/eventtap.h"
#include "bench/floodclient.h"
#include "bench/loadphase.h"
#include "bench/procstats.h"
#include "bench/rowcrowd.h"
#include "bench/stalledbrowsers.h"
#include "core/config/descriptorlimit.h"

namespace {

struct BenchOptions {
  SessionConfig session;
  QList<int> clientCounts;
  int ldkClients = 10;
  double phaseSeconds = 10;
  int window = 256;
  // Rings per second of the latency phase, lowered to half the relay's full
  // rate when the relay cannot take twice as many.
  double latencyRate = 100;
  int64_t memoryEvents = 1000000;
  int64_t memoryCheckpoint = 100000;
  int memoryClients = 10;
  // One more extension client sends this much while floodClients others are
  // served at the latency phase's rate; 0: no flood.
  int64_t floodMiB = 400;
  int floodClients = 100;
  // Connections from one other host, each registering crowdRows texts that
  // match no call, beside one desk; 0: no crowd run.
  int crowdConnections = 200;
  int crowdRows = 100;
  // Browsers signed in to the feed that never read, beside the same desk
  // once the crowd has gone; 0: none.
  int stalledBrowsers = 1000;
  // Browsers signed in to the feed for the ringing extensions, reading, beside
  // as many extension clients registered for the same; 0: no run.
  int browsers = 1000;
  // The event stream's runs against a throw-away broker node: full rate with
  // the publisher off and on, then a broker stop of outageSeconds under
  // outageRate rings per second.
  bool stream = false;
  int streamClients = 100;
  int streamPairs = 3;  // of runs off and on at idle priority
  double outageSeconds = 30;
  double outageRate = 20;
  QString markdownFile;
};

// The consumer is given up on once no ring event came for this long: longer
// than the publisher's longest wait before it connects again (30 s).
constexpr int kConsumerQuietMs = 45000;

// Long enough for a relay that reads a flood slowly; it still ends.
constexpr double kFloodMaxSeconds = 300;
constexpr int kMemorySampleMs = 10;

// One relay at one client count.
struct LoadFigures {
  double startupMs = 0;
  double ringsPerSecond = 0;
  double eventsPerSecond = 0;
  double cpuUsPerEvent = 0;
  double driverBusyFull = 0;  // share of one core
  double latencyRate = 0;     // rings per second offered in the latency phase
  LatencySummary latency;
  double driverBusyPaced = 0;
};

struct FloodFigures {
  double rate = 0;  // rings per second offered meanwhile
  int64_t sentBytes = 0;
  double seconds = 0;
  LatencySummary latency;
  int64_t startRssKb = 0;
  int64_t peakRssKb = 0;
};

struct CrowdFigures {
  LatencySummary idle;     // the desk alone
  LatencySummary crowded;  // the desk beside the crowd
  double registerSeconds = 0;
  LatencySummary stalled;  // the desk beside the stalled browsers, the crowd gone
};

// Paced rings to a session's extension clients and browsers.
struct FanOutFigures {
  LatencySummary desks;
  LatencySummary browsers;
  double relayBusy = 0;  // share of one core
  double driverBusy = 0;
};

// Each kind alone, for what one client of it costs; then both on the same
// rings, where the browsers, the relay's last output, wait for the desks.
struct BrowserFigures {
  FanOutFigures desksAlone;
  FanOutFigures browsersAlone;
  FanOutFigures beside;
};

// The publishing relay's full-rate phase, and the consumer's catching up after it.
struct PublishingFigures {
  double ringsPerSecond = 0;
  double relayBusy = 0;     // share of one core, publisher thread included
  int64_t rung = 0;         // warm-up included
  int64_t atPhaseEnd = 0;   // ring events at the consumer once every client had every ring
  int64_t received = 0;     // in the end
  double drainSeconds = 0;  // from the phase's end to the last ring event at the consumer
};

// A fresh relay not publishing, then one publishing, beside the broker as it was.
struct OffAndOn {
  PublishingFigures off;
  PublishingFigures on;

  double Ratio() const { return on.ringsPerSecond / off.ringsPerSecond; }
};

// Full rate at the stream's client count beside the broker node and the
// consumer at normal priority, as they were measured first; then at the
// lowest, as if they ran elsewhere, pair after pair, so that the machine's
// drift over the runs falls on both sides alike.
struct StreamLoadFigures {
  OffAndOn brokerNormal;
  std::vector<OffAndOn> brokerIdle;  // in run order, never empty

  OffAndOn MedianIdle() const {
    std::vector<OffAndOn> byRatio = brokerIdle;
    std::sort(byRatio.begin(), byRatio.end(),
              [](const OffAndOn& a, const OffAndOn& b) { return a.Ratio() < b.Ratio(); });
    return byRatio[byRatio.size() / 2];
  }
};

// Paced rings before, during and after a broker stop.
struct OutageFigures {
  LatencySummary before;
  LatencySummary during;
  LatencySummary after;
  int64_t rung = 0;
  int64_t received = 0;
  double catchUpSeconds = 0;  // from start_app's return to the last ring event at the consumer
};

struct MemoryFigures {
  double startupMs = 0;
  ProcessMemory atCheckpoint;
  ProcessMemory atEnd;
  double seconds = 0;
};

void Progress(const QString& line) {
  std::fprintf(stderr, "relaybench: %s\n", line.toUtf8().constData());
  std::fflush(stderr);
}

std::optional<PhaseResult> Phase(BenchSession& session, const PhasePlan& plan,
                                 const QString& name) {
  PhaseResult result =
      RunPhase(session.Feed(), session.Ledger(), session.Fleet(), session.RelayPid(), plan);
  if (!result.ok) {
    Progress(name + QStringLiteral(": ") + result.error);
    return std::nullopt;
  }
  if (session.Ledger().Strays() > 0 || session.Fleet().Garbled() > 0) {
    Progress(QStringLiteral("%1: %2 stray deliveries, %3 garbled notices")
                 .arg(name)
                 .arg(session.Ledger().Strays())
                 .arg(session.Fleet().Garbled()));
    return std::nullopt;
  }
  return result;
}

// ringsPerSecond 0: as fast as the window lets.
bool WarmUp(BenchSession& session, const BenchOptions& options, const QString& name,
            double ringsPerSecond = 0) {
  PhasePlan warmUp;
  warmUp.events = 3000;
  warmUp.seconds = 3;
  warmUp.ringsPerSecond = ringsPerSecond;
  warmUp.window = options.window;
  return Phase(session, warmUp, name).has_value();
}

// Full rate first, then latency at latencyRate rings per second (0: the
// configured rate, or half the full rate just measured when that is lower).
std::optional<LoadFigures> MeasureLoad(const BenchOptions& options, bool reference, int extClients,
                                       double latencyRate) {
  const QString name = QStringLiteral("%1, %2 extension clients")
                           .arg(reference ? QStringLiteral("reference") : QStringLiteral("relay"))
                           .arg(extClients);
  BenchSession session(options.session, reference, extClients, options.ldkClients);
  QString error;
  if (!session.Open(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return std::nullopt;
  }
  Progress(QStringLiteral("%1: pid %2 listening after %3 ms")
               .arg(name)
               .arg(session.RelayPid())
               .arg(session.StartupMs(), 0, 'f', 0));
  LoadFigures figures;
  figures.startupMs = session.StartupMs();

  if (!WarmUp(session, options, name)) return std::nullopt;

  PhasePlan fullRate;
  fullRate.seconds = options.phaseSeconds;
  fullRate.window = options.window;
  const std::optional<PhaseResult> full = Phase(session, fullRate, name);
  if (!full) return std::nullopt;
  figures.ringsPerSecond = double(full->Rings()) / full->seconds;
  figures.eventsPerSecond = double(full->events) / full->seconds;
  figures.cpuUsPerEvent = full->relayCpuSeconds * 1e6 / double(full->events);
  figures.driverBusyFull = full->driverCpuSeconds / full->seconds;

  figures.latencyRate =
      latencyRate > 0 ? latencyRate : std::min(options.latencyRate, figures.ringsPerSecond / 2);
  Progress(QStringLiteral("%1: %2 rings/s at full rate; now paced at %3 rings/s")
               .arg(name)
               .arg(figures.ringsPerSecond, 0, 'f', 0)
               .arg(figures.latencyRate, 0, 'f', 0));
  PhasePlan paced;
  paced.seconds = options.phaseSeconds;
  paced.ringsPerSecond = figures.latencyRate;
  paced.window = options.window;
  const std::optional<PhaseResult> latency = Phase(session, paced, name);
  if (!latency) return std::nullopt;
  figures.latency = session.Ledger().Latencies(latency->firstRing, latency->endRing);
  figures.driverBusyPaced = latency->driverCpuSeconds / latency->seconds;
  Progress(QStringLiteral("%1: %2 us CPU per event at full rate, p99 %3 ms when paced, %4 rings in "
                          "all")
               .arg(name)
               .arg(figures.cpuUsPerEvent, 0, 'f', 1)
               .arg(figures.latency.p99Us / 1000, 0, 'f', 2)
               .arg(session.Ledger().Sent()));
  return figures;
}

// Rings at rate to the other clients while the flood client sends; resident
// memory is sampled throughout.
std::optional<FloodFigures> MeasureFlood(const BenchOptions& options, bool reference, double rate) {
  const QString name =
      reference ? QStringLiteral("reference, flood run") : QStringLiteral("relay, flood run");
  BenchSession session(options.session, reference, options.floodClients, options.ldkClients);
  QString error;
  if (!session.Open(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return std::nullopt;
  }
  if (!WarmUp(session, options, name)) return std::nullopt;

  FloodFigures figures;
  figures.rate = rate;
  figures.startRssKb = MemoryOf(session.RelayPid()).vmRssKb;
  figures.peakRssKb = figures.startRssKb;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    figures.peakRssKb = std::max(figures.peakRssKb, MemoryOf(session.RelayPid()).vmRssKb);
  });
  sampler.start(kMemorySampleMs);
  FloodClient flood(session.ExtPort(), options.floodMiB * 1024 * 1024);
  if (!flood.Start(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return std::nullopt;
  }
  PhasePlan paced;
  paced.seconds = kFloodMaxSeconds;
  paced.ringsPerSecond = rate;
  paced.window = options.window;
  paced.over = [&flood] { return flood.Done(); };
  const std::optional<PhaseResult> result = Phase(session, paced, name);
  if (!result) return std::nullopt;
  figures.sentBytes = flood.Sent();
  figures.seconds = flood.Done() ? flood.Seconds() : result->seconds;
  figures.latency = session.Ledger().Latencies(result->firstRing, result->endRing);
  Progress(QStringLiteral("%1: %2 MiB in %3 s, p99 %4 ms, resident %5 -> %6 kB at the peak")
               .arg(name)
               .arg(double(figures.sentBytes) / (1 << 20), 0, 'f', 0)
               .arg(figures.seconds, 0, 'f', 1)
               .arg(figures.latency.p99Us / 1000, 0, 'f', 2)
               .arg(figures.startRssKb)
               .arg(figures.peakRssKb));
  return figures;
}

// One desk's ring latency, paced, alone, then beside the crowd, then
// beside the stalled browsers.
std::optional<CrowdFigures> MeasureCrowd(const BenchOptions& options) {
  const QString name = QStringLiteral("relay, crowd run");
  SessionConfig config = options.session;
  if (options.stalledBrowsers > 0) config.feedPort = FreePort();
  BenchSession session(config, false, 1, 0);
  QString error;
  if (!session.Open(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return std::nullopt;
  }
  if (!WarmUp(session, options, name)) return std::nullopt;
  PhasePlan paced;
  paced.seconds = options.phaseSeconds;
  paced.ringsPerSecond = options.latencyRate;
  paced.window = options.window;
  CrowdFigures figures;
  const std::optional<PhaseResult> idle = Phase(session, paced, name);
  if (!idle) return std::nullopt;
  figures.idle = session.Ledger().Latencies(idle->firstRing, idle->endRing);
  {
    RowCrowd crowd("127.0.0.2", session.ExtPort(), options.crowdConnections, options.crowdRows);
    if (!crowd.Open(&error)) {
      Progress(name + QStringLiteral(": ") + error);
      return std::nullopt;
    }
    figures.registerSeconds = crowd.Seconds();
    const std::optional<PhaseResult> crowded = Phase(session, paced, name);
    if (!crowded) return std::nullopt;
    figures.crowded = session.Ledger().Latencies(crowded->firstRing, crowded->endRing);
  }
  Progress(QStringLiteral("%1: p99 %2 ms alone, %3 ms beside %4 x %5 rows (registered in %6 s)")
               .arg(name)
               .arg(figures.idle.p99Us / 1000, 0, 'f', 2)
               .arg(figures.crowded.p99Us / 1000, 0, 'f', 2)
               .arg(options.crowdConnections)
               .arg(options.crowdRows)
               .arg(figures.registerSeconds, 0, 'f', 1));
  if (options.stalledBrowsers <= 0) return figures;
  StalledBrowsers browsers(config.feedPort, options.stalledBrowsers);
  if (!browsers.Open(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return std::nullopt;
  }
  const std::optional<PhaseResult> stalled = Phase(session, paced, name);
  if (!stalled) return std::nullopt;
  figures.stalled = session.Ledger().Latencies(stalled->firstRing, stalled->endRing);
  Progress(QStringLiteral("%1: p99 %2 ms beside %3 stalled browsers")
               .arg(name)
               .arg(figures.stalled.p99Us / 1000, 0, 'f', 2)
               .arg(options.stalledBrowsers));
  return figures;
}

// Paced rings, each to every extension client and every browser of the
// session; a ring's latency for each kind is when the last of its clients had it.
std::optional<FanOutFigures> MeasureFanOut(const BenchOptions& options, const QString& name,
                                           int extClients, int browsers) {
  SessionConfig config = options.session;
  config.feedPort = FreePort();
  config.browsers = browsers;
  BenchSession session(config, false, extClients, 0);
  QString error;
  if (!session.Open(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return std::nullopt;
  }
  // Paced: at full rate the driver, reading 2,000 connections, falls so far
  // behind that the relay cuts browsers off as stalled.
  if (!WarmUp(session, options, name, options.latencyRate)) return std::nullopt;
  PhasePlan paced;
  paced.seconds = options.phaseSeconds;
  paced.ringsPerSecond = options.latencyRate;
  paced.window = options.window;
  const std::optional<PhaseResult> result = Phase(session, paced, name);
  if (!result) return std::nullopt;
  const RingLedger& ledger = session.Ledger();
  const FanOutFigures figures{
      ledger.Latencies(result->firstRing, result->endRing, RingLedger::kDesks),
      ledger.Latencies(result->firstRing, result->endRing, RingLedger::kBrowsers),
      result->relayCpuSeconds / result->seconds, result->driverCpuSeconds / result->seconds};
  Progress(QStringLiteral("%1: p99 %2 ms to %3 extension clients, %4 ms to %5 browsers; "
                          "relay %6%, driver %7% of a core")
               .arg(name)
               .arg(extClients > 0 ? figures.desks.p99Us / 1000 : 0, 0, 'f', 2)
               .arg(extClients)
               .arg(browsers > 0 ? figures.browsers.p99Us / 1000 : 0, 0, 'f', 2)
               .arg(browsers)
               .arg(100 * figures.relayBusy, 0, 'f', 0)
               .arg(100 * figures.driverBusy, 0, 'f', 0));
  return figures;
}

std::optional<BrowserFigures> MeasureBrowsers(const BenchOptions& options) {
  const int n = options.browsers;
  const auto desks = MeasureFanOut(options, QStringLiteral("relay, extension clients"), n, 0);
  const auto browsers = MeasureFanOut(options, QStringLiteral("relay, browsers"), 0, n);
  const auto beside =
      MeasureFanOut(options, QStringLiteral("relay, browsers beside extension clients"), n, n);
  if (!desks || !browsers || !beside) return std::nullopt;
  return BrowserFigures{*desks, *browsers, *beside};
}

// The real relay, its clients connected and warmed up; nullptr once told why.
std::unique_ptr<BenchSession> OpenWarmRelay(const BenchOptions& options,
                                            const SessionConfig& config, const QString& name,
                                            double ringsPerSecond = 0) {
  auto session =
      std::make_unique<BenchSession>(config, false, options.streamClients, options.ldkClients);
  QString error;
  if (!session->Open(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return nullptr;
  }
  if (!WarmUp(*session, options, name, ringsPerSecond)) return nullptr;
  return session;
}

// The full-rate phase of a fresh relay, publishing to the tap or not.
std::optional<PublishingFigures> MeasureFullRate(const BenchOptions& options, EventTap* tap,
                                                 const QString& name) {
  PhasePlan fullRate;
  fullRate.seconds = options.phaseSeconds;
  fullRate.window = options.window;
  SessionConfig config = options.session;
  config.brokerPort = tap ? tap->BrokerPort() : 0;
  const std::unique_ptr<BenchSession> session = OpenWarmRelay(options, config, name);
  if (!session) return std::nullopt;
  const std::optional<PhaseResult> full = Phase(*session, fullRate, name);
  if (!full) return std::nullopt;
  PublishingFigures figures;
  figures.ringsPerSecond = double(full->Rings()) / full->seconds;
  figures.relayBusy = full->relayCpuSeconds / full->seconds;
  Progress(QStringLiteral("%1: %2 rings/s at full rate")
               .arg(name)
               .arg(figures.ringsPerSecond, 0, 'f', 0));
  if (!tap) return figures;
  figures.rung = session->Ledger().Sent();
  const int64_t phaseEndNs = NowNs();
  figures.atPhaseEnd = tap->RingsOf(session->RelayName());
  figures.received = tap->WaitForRings(session->RelayName(), figures.rung, kConsumerQuietMs);
  figures.drainSeconds = double(std::max(tap->LastRingNs() - phaseEndNs, int64_t(0))) / 1e9;
  Progress(QStringLiteral("%1: %2 of %3 ring events at the consumer at the phase's end, %4 "
                          "%5 s later")
               .arg(name)
               .arg(figures.atPhaseEnd)
               .arg(figures.rung)
               .arg(figures.received)
               .arg(figures.drainSeconds, 0, 'f', 1));
  return figures;
}

// The same full-rate load without a broker, then with one at normal
// priority, then off and on in turn with it at the lowest; each time waits
// for the consumer to have every ring event. The priority is lowered for
// good: the outage runs with it.
std::optional<StreamLoadFigures> MeasureStreamLoad(const BenchOptions& options, EventTap& tap) {
  const QString name =
      QStringLiteral("relay, %1 extension clients, publisher ").arg(options.streamClients);
  const auto offThenOn = [&](const QString& broker) -> std::optional<OffAndOn> {
    const std::optional<PublishingFigures> off =
        MeasureFullRate(options, nullptr, name + QStringLiteral("off, broker at ") + broker);
    if (!off) return std::nullopt;
    const std::optional<PublishingFigures> on =
        MeasureFullRate(options, &tap, name + QStringLiteral("on, broker at ") + broker);
    if (!on) return std::nullopt;
    return OffAndOn{*off, *on};
  };
  StreamLoadFigures figures;
  const std::optional<OffAndOn> normal = offThenOn(QStringLiteral("normal priority"));
  if (!normal) return std::nullopt;
  figures.brokerNormal = *normal;
  tap.LowerPriority();
  for (int pair = 0; pair < options.streamPairs; ++pair) {
    const std::optional<OffAndOn> idle = offThenOn(QStringLiteral("idle priority"));
    if (!idle) return std::nullopt;
    figures.brokerIdle.push_back(*idle);
  }
  return figures;
}

// Paced rings with the broker up, stopped for outageSeconds, and up again;
// then waits for the consumer to have every ring event.
std::optional<OutageFigures> MeasureOutage(const BenchOptions& options, EventTap& tap) {
  const QString name = QStringLiteral("relay, broker outage");
  SessionConfig config = options.session;
  config.brokerPort = tap.BrokerPort();
  const std::unique_ptr<BenchSession> session =
      OpenWarmRelay(options, config, name, options.outageRate);
  if (!session) return std::nullopt;
  PhasePlan paced;
  paced.seconds = options.phaseSeconds;
  paced.ringsPerSecond = options.outageRate;
  paced.window = options.window;
  const auto latencies = [&session](const PhaseResult& result) {
    return session->Ledger().Latencies(result.firstRing, result.endRing);
  };
  OutageFigures figures;
  const std::optional<PhaseResult> before = Phase(*session, paced, name);
  if (!before) return std::nullopt;
  figures.before = latencies(*before);
  // rabbitmqctl blocks the driver: between phases, with no ring in flight.
  QString error;
  if (!tap.StopBroker(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return std::nullopt;
  }
  PhasePlan outage = paced;
  outage.seconds = options.outageSeconds;
  const std::optional<PhaseResult> during = Phase(*session, outage, name);
  if (!during) return std::nullopt;
  figures.during = latencies(*during);
  if (!tap.StartBroker(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return std::nullopt;
  }
  const int64_t backNs = NowNs();
  const std::optional<PhaseResult> after = Phase(*session, paced, name);
  if (!after) return std::nullopt;
  figures.after = latencies(*after);
  figures.rung = session->Ledger().Sent();
  figures.received = tap.WaitForRings(session->RelayName(), figures.rung, kConsumerQuietMs);
  figures.catchUpSeconds = double(std::max(tap.LastRingNs() - backNs, int64_t(0))) / 1e9;
  Progress(QStringLiteral("%1: p99 %2 / %3 / %4 ms before / during / after; %5 of %6 ring events "
                          "at the consumer, the last %7 s after start_app")
               .arg(name)
               .arg(figures.before.p99Us / 1000, 0, 'f', 2)
               .arg(figures.during.p99Us / 1000, 0, 'f', 2)
               .arg(figures.after.p99Us / 1000, 0, 'f', 2)
               .arg(figures.received)
               .arg(figures.rung)
               .arg(figures.catchUpSeconds, 0, 'f', 1));
  return figures;
}

std::optional<MemoryFigures> MeasureMemory(const BenchOptions& options, bool reference) {
  const QString name =
      reference ? QStringLiteral("reference, memory run") : QStringLiteral("relay, memory run");
  BenchSession session(options.session, reference, options.memoryClients, options.ldkClients);
  QString error;
  if (!session.Open(&error)) {
    Progress(name + QStringLiteral(": ") + error);
    return std::nullopt;
  }
  MemoryFigures figures;
  figures.startupMs = session.StartupMs();
  PhasePlan plan;
  plan.window = options.window;
  plan.events = options.memoryCheckpoint;
  const std::optional<PhaseResult> first = Phase(session, plan, name);
  if (!first) return std::nullopt;
  figures.atCheckpoint = MemoryOf(session.RelayPid());
  plan.events = options.memoryEvents - options.memoryCheckpoint;
  const std::optional<PhaseResult> rest = Phase(session, plan, name);
  if (!rest) return std::nullopt;
  figures.atEnd = MemoryOf(session.RelayPid());
  figures.seconds = first->seconds + rest->seconds;
  Progress(QStringLiteral("%1: VmHWM %2 kB after %3 events, %4 kB after %5 (%6 s)")
               .arg(name)
               .arg(figures.atCheckpoint.vmHwmKb)
               .arg(options.memoryCheckpoint)
               .arg(figures.atEnd.vmHwmKb)
               .arg(options.memoryEvents)
               .arg(figures.seconds, 0, 'f', 0));
  return figures;
}

QString Number(double value, int decimals) {
  return QLocale(QLocale::English).toString(value, 'f', decimals);
}

QString Ratio(double relay, double reference) {
  return reference > 0 ? Number(relay / reference, 2) : QStringLiteral("-");
}

double MedianOf(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

class Report {
 public:
  void Line(const QString& text = QString()) { m_text += text + QLatin1Char('\n'); }
  void Row(const QStringList& cells) { Line(QStringLiteral("| ") + cells.join(" | ") + " |"); }
  const QString& Text() const { return m_text; }

 private:
  QString m_text;
};

// One figure of the relay and the reference, with their ratio unless told not to.
template <typename Figures, typename Value>
void PairRow(Report& report, const std::optional<Figures>& relay,
             const std::optional<Figures>& reference, const QString& figure, Value value,
             int decimals, bool ratio) {
  const double a = relay ? value(*relay) : 0;
  const double b = reference ? value(*reference) : 0;
  report.Row({figure, relay ? Number(a, decimals) : QStringLiteral("failed"),
              reference ? Number(b, decimals) : QStringLiteral("failed"),
              ratio ? Ratio(a, b) : QStringLiteral("-")});
}

struct Results {
  std::vector<std::pair<int, std::pair<std::optional<LoadFigures>, std::optional<LoadFigures>>>>
      load;
  std::optional<MemoryFigures> relayMemory;
  std::optional<MemoryFigures> referenceMemory;
  std::optional<FloodFigures> relayFlood;
  std::optional<FloodFigures> referenceFlood;
  std::optional<CrowdFigures> crowd;
  std::optional<BrowserFigures> browsers;
  std::optional<StreamLoadFigures> streamLoad;
  std::optional<OutageFigures> outage;
};

void ReportLoad(Report& report, const BenchOptions& options, const Results& results) {
  report.Line(QStringLiteral("### Load: %1 accounts, %2 LDK505 clients, %3")
                  .arg(options.session.accounts)
                  .arg(options.ldkClients)
                  .arg(options.session.record
                           ? QStringLiteral("send type 2, centre code 1 (relay records calls)")
                           : QStringLiteral("send type 0")));
  report.Line();
  report.Row({"Extension clients", "Figure", "Relay", "Reference", "Relay / reference"});
  report.Row({"---:", "---", "---:", "---:", "---:"});
  for (const auto& [clients, pair] : results.load) {
    const auto& [relay, reference] = pair;
    const auto row = [&](const QString& figure, auto value, int decimals) {
      const double a = relay ? value(*relay) : 0;
      const double b = reference ? value(*reference) : 0;
      report.Row({QString::number(clients), figure,
                  relay ? Number(a, decimals) : QStringLiteral("failed"),
                  reference ? Number(b, decimals) : QStringLiteral("failed"), Ratio(a, b)});
    };
    row(
        "ring notices relayed per second, full rate",
        [](const LoadFigures& f) { return f.ringsPerSecond; }, 0);
    row(
        "telephony events per second, full rate",
        [](const LoadFigures& f) { return f.eventsPerSecond; }, 0);
    row(
        "relay CPU per telephony event (µs)", [](const LoadFigures& f) { return f.cpuUsPerEvent; },
        1);
    const double rate = relay ? relay->latencyRate : 0;
    row(
        QStringLiteral("latency p50 at %1 rings/s (ms)").arg(Number(rate, 0)),
        [](const LoadFigures& f) { return f.latency.p50Us / 1000; }, 2);
    row(
        QStringLiteral("latency p99 at %1 rings/s (ms)").arg(Number(rate, 0)),
        [](const LoadFigures& f) { return f.latency.p99Us / 1000; }, 2);
    row(
        QStringLiteral("latency max at %1 rings/s (ms)").arg(Number(rate, 0)),
        [](const LoadFigures& f) { return f.latency.maxUs / 1000; }, 2);
    row(
        "driver CPU at full rate (% of a core)",
        [](const LoadFigures& f) { return 100 * f.driverBusyFull; }, 0);
    row(
        QStringLiteral("driver CPU at %1 rings/s (% of a core)").arg(Number(rate, 0)),
        [](const LoadFigures& f) { return 100 * f.driverBusyPaced; }, 0);
  }
  report.Line();
}

void ReportMemory(Report& report, const BenchOptions& options, const Results& results) {
  if (options.memoryEvents <= 0) return;
  const auto& relay = results.relayMemory;
  const auto& reference = results.referenceMemory;
  report.Line(QStringLiteral("### Memory: %1 extension and %2 LDK505 clients, full rate")
                  .arg(options.memoryClients)
                  .arg(options.ldkClients));
  report.Line();
  report.Row({"Figure", "Relay", "Reference", "Relay / reference"});
  report.Row({"---", "---:", "---:", "---:"});
  const auto row = [&](const QString& figure, auto value, int decimals, bool ratio = true) {
    PairRow(report, relay, reference, figure, value, decimals, ratio);
  };
  const QString checkpoint = Number(double(options.memoryCheckpoint), 0);
  const QString end = Number(double(options.memoryEvents), 0);
  row(
      QStringLiteral("VmHWM after %1 events (MiB)").arg(checkpoint),
      [](const MemoryFigures& f) { return double(f.atCheckpoint.vmHwmKb) / 1024; }, 1);
  row(
      QStringLiteral("VmHWM after %1 events (MiB)").arg(end),
      [](const MemoryFigures& f) { return double(f.atEnd.vmHwmKb) / 1024; }, 1);
  row(
      QStringLiteral("VmRSS after %1 events (MiB)").arg(checkpoint),
      [](const MemoryFigures& f) { return double(f.atCheckpoint.vmRssKb) / 1024; }, 1);
  row(
      QStringLiteral("VmRSS after %1 events (MiB)").arg(end),
      [](const MemoryFigures& f) { return double(f.atEnd.vmRssKb) / 1024; }, 1);
  row(
      QStringLiteral("VmHWM growth from %1 to %2 events (%)").arg(checkpoint, end),
      [](const MemoryFigures& f) {
        return 100.0 * double(f.atEnd.vmHwmKb - f.atCheckpoint.vmHwmKb) /
               double(f.atCheckpoint.vmHwmKb);
      },
      1, false);
  row(
      QStringLiteral("time for %1 events (s)").arg(end),
      [](const MemoryFigures& f) { return f.seconds; }, 0);
  report.Line();
}

void ReportFlood(Report& report, const BenchOptions& options, const Results& results) {
  if (options.floodMiB <= 0) return;
  const auto& relay = results.relayFlood;
  const auto& reference = results.referenceFlood;
  const double rate = relay ? relay->rate : 0;
  report.Line(
      QStringLiteral("### Flood: one more extension client sends %1 MiB of distinct numbers")
          .arg(options.floodMiB));
  report.Line();
  report.Line(QStringLiteral("As fast as the relay takes them, while %1 extension and %2 LDK505 "
                             "clients are served at %3 rings/s.")
                  .arg(options.floodClients)
                  .arg(options.ldkClients)
                  .arg(Number(rate, 0)));
  report.Line();
  report.Row({"Figure", "Relay", "Reference", "Relay / reference"});
  report.Row({"---", "---:", "---:", "---:"});
  const auto row = [&](const QString& figure, auto value, int decimals, bool ratio = true) {
    PairRow(report, relay, reference, figure, value, decimals, ratio);
  };
  row(
      "flood sent (MiB)", [](const FloodFigures& f) { return double(f.sentBytes) / (1 << 20); }, 0);
  row(
      "flood time (s)", [](const FloodFigures& f) { return f.seconds; }, 1);
  row(
      "rings measured meanwhile", [](const FloodFigures& f) { return double(f.latency.count); }, 0);
  row(
      "other clients' latency p50 (ms)",
      [](const FloodFigures& f) { return f.latency.p50Us / 1000; }, 2);
  row(
      "other clients' latency p99 (ms)",
      [](const FloodFigures& f) { return f.latency.p99Us / 1000; }, 2);
  row(
      "other clients' latency max (ms)",
      [](const FloodFigures& f) { return f.latency.maxUs / 1000; }, 2);
  row(
      "VmRSS at the start (MiB)", [](const FloodFigures& f) { return double(f.startRssKb) / 1024; },
      1);
  row(
      "VmRSS growth at the peak (MiB)",
      [](const FloodFigures& f) { return double(f.peakRssKb - f.startRssKb) / 1024; }, 1, false);
  report.Line();
}

void ReportStartup(Report& report, const Results& results) {
  std::vector<double> relay;
  std::vector<double> reference;
  for (const auto& [clients, pair] : results.load) {
    if (pair.first) relay.push_back(pair.first->startupMs);
    if (pair.second) reference.push_back(pair.second->startupMs);
  }
  if (results.relayMemory) relay.push_back(results.relayMemory->startupMs);
  if (results.referenceMemory) reference.push_back(results.referenceMemory->startupMs);
  report.Line(QStringLiteral("### Start-up: process start to both client ports listening"));
  report.Line();
  report.Row({"Figure", "Relay", "Reference", "Relay / reference"});
  report.Row({"---", "---:", "---:", "---:"});
  const auto slowest = [](const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
  };
  report.Row({QStringLiteral("median of %1 starts (ms)").arg(relay.size()),
              Number(MedianOf(relay), 0), Number(MedianOf(reference), 0),
              Ratio(MedianOf(relay), MedianOf(reference))});
  report.Row({"slowest start (ms)", Number(slowest(relay), 0), Number(slowest(reference), 0),
              Ratio(slowest(relay), slowest(reference))});
  report.Line();
}

void ReportCrowd(Report& report, const BenchOptions& options, const Results& results) {
  if (options.crowdConnections <= 0) return;
  report.Line(QStringLiteral("### One desk beside %1 connections x %2 rows from one other host, "
                             "%3 rings/s")
                  .arg(options.crowdConnections)
                  .arg(options.crowdRows)
                  .arg(options.latencyRate, 0, 'f', 0));
  report.Line();
  const QString besideBrowsers =
      QStringLiteral("Beside %1 stalled browsers").arg(options.stalledBrowsers);
  report.Row({"Figure", "Desk alone", "Beside the crowd", besideBrowsers});
  report.Row({"---", "---:", "---:", "---:"});
  if (!results.crowd) {
    report.Row({"run", "failed", "failed", "failed"});
    report.Line();
    return;
  }
  const CrowdFigures& crowd = *results.crowd;
  const bool browsers = options.stalledBrowsers > 0;
  const auto row = [&](const QString& figure, double LatencySummary::*field) {
    report.Row({figure, Number(crowd.idle.*field / 1000, 2), Number(crowd.crowded.*field / 1000, 2),
                browsers ? Number(crowd.stalled.*field / 1000, 2) : QStringLiteral("-")});
  };
  row(QStringLiteral("p50 ring latency (ms)"), &LatencySummary::p50Us);
  row(QStringLiteral("p99 ring latency (ms)"), &LatencySummary::p99Us);
  report.Row({"crowd's registrations, each awaiting its acknowledgement (s)", "-",
              Number(crowd.registerSeconds, 1), "-"});
  report.Line();
}

void ReportBrowsers(Report& report, const BenchOptions& options, const Results& results) {
  if (options.browsers <= 0) return;
  report.Line(QStringLiteral("### %1 extension clients, %1 browsers, %2 rings/s")
                  .arg(options.browsers)
                  .arg(options.latencyRate, 0, 'f', 0));
  report.Line();
  report.Line(
      QStringLiteral("Each kind alone on a relay of its own, then both on the same rings. "
                     "A ring's latency is when the last client of the kind had it."));
  report.Line();
  report.Row({"Figure", "Extension clients alone", "Browsers alone", "Browsers / extension",
              "Extension clients beside browsers", "Browsers beside"});
  report.Row({"---", "---:", "---:", "---:", "---:", "---:"});
  const auto& figures = results.browsers;
  const auto row = [&](const QString& figure, double LatencySummary::*field) {
    if (!figures) {
      report.Row({figure, "failed", "failed", "-", "failed", "failed"});
      return;
    }
    const double desks = figures->desksAlone.desks.*field;
    const double browsers = figures->browsersAlone.browsers.*field;
    report.Row({figure, Number(desks / 1000, 2), Number(browsers / 1000, 2), Ratio(browsers, desks),
                Number(figures->beside.desks.*field / 1000, 2),
                Number(figures->beside.browsers.*field / 1000, 2)});
  };
  row(QStringLiteral("p50 ring latency (ms)"), &LatencySummary::p50Us);
  row(QStringLiteral("p99 ring latency (ms)"), &LatencySummary::p99Us);
  row(QStringLiteral("max ring latency (ms)"), &LatencySummary::maxUs);
  if (figures) {
    report.Line();
    const auto busy = [](const FanOutFigures& run) {
      return QStringLiteral("%1% / %2%")
          .arg(Number(100 * run.relayBusy, 0), Number(100 * run.driverBusy, 0));
    };
    report.Line(
        QStringLiteral("Relay / driver CPU, share of a core: extension clients alone %1, "
                       "browsers alone %2, both %3.")
            .arg(busy(figures->desksAlone), busy(figures->browsersAlone), busy(figures->beside)));
  }
  report.Line();
}

void ReportStream(Report& report, const BenchOptions& options, const Results& results) {
  if (!options.stream) return;
  report.Line(QStringLiteral("### Event stream: %1 extension clients, full rate, publisher off and "
                             "on (a quorum queue consuming)")
                  .arg(options.streamClients));
  report.Line();
  report.Row({"Figure", "Off", "On, broker at normal priority", "Off, broker at idle priority",
              "On, broker at idle priority", "On / off (normal, idle)"});
  report.Row({"---", "---:", "---:", "---:", "---:", "---:"});
  const auto& load = results.streamLoad;
  if (!load) {
    report.Row({"run", "failed", "failed", "failed", "failed", "-"});
  } else {
    const OffAndOn& normal = load->brokerNormal;
    const OffAndOn idle = load->MedianIdle();
    const auto figure = [&](const char* name, double PublishingFigures::*field, double scale) {
      report.Row({name, Number(scale * (normal.off.*field), 0),
                  Number(scale * (normal.on.*field), 0), Number(scale * (idle.off.*field), 0),
                  Number(scale * (idle.on.*field), 0),
                  Ratio(normal.on.*field, normal.off.*field) + QStringLiteral(", ") +
                      Ratio(idle.on.*field, idle.off.*field)});
    };
    figure("ring notices relayed per second", &PublishingFigures::ringsPerSecond, 1);
    figure("relay CPU (% of a core)", &PublishingFigures::relayBusy, 100);
    const auto row = [&](const char* name, int64_t PublishingFigures::*field) {
      report.Row({name, "-", Number(double(normal.on.*field), 0), "-",
                  Number(double(idle.on.*field), 0), "-"});
    };
    row("rings rung (warm-up included)", &PublishingFigures::rung);
    row("ring events at the consumer when the phase ended", &PublishingFigures::atPhaseEnd);
    row("ring events at the consumer in the end", &PublishingFigures::received);
    report.Row({"phase's end to the last ring event at the consumer (s)", "-",
                Number(normal.on.drainSeconds, 1), "-", Number(idle.on.drainSeconds, 1), "-"});
    QStringList ratios;
    for (const OffAndOn& pair : load->brokerIdle) ratios << Number(pair.Ratio(), 2);
    report.Line();
    report.Line(
        QStringLiteral("At idle priority, off and on ran in turn %1 times; the columns show the "
                       "pair of the median ratio. Each pair's on / off: %2.")
            .arg(load->brokerIdle.size())
            .arg(ratios.join(QStringLiteral(", "))));
  }
  report.Line();
  report.Line(QStringLiteral("### Broker outage: rabbitmqctl stop_app for %1 s, %2 rings/s to %3 "
                             "extension clients")
                  .arg(options.outageSeconds, 0, 'f', 0)
                  .arg(options.outageRate, 0, 'f', 0)
                  .arg(options.streamClients));
  report.Line();
  report.Row({"Figure", "Broker up", "Broker stopped", "After start_app"});
  report.Row({"---", "---:", "---:", "---:"});
  const auto& outage = results.outage;
  if (!outage) {
    report.Row({"run", "failed", "failed", "failed"});
    report.Line();
    return;
  }
  const auto row = [&](const QString& figure, double LatencySummary::*field) {
    report.Row({figure, Number(outage->before.*field / 1000, 2),
                Number(outage->during.*field / 1000, 2), Number(outage->after.*field / 1000, 2)});
  };
  row(QStringLiteral("p50 ring latency (ms)"), &LatencySummary::p50Us);
  row(QStringLiteral("p99 ring latency (ms)"), &LatencySummary::p99Us);
  row(QStringLiteral("max ring latency (ms)"), &LatencySummary::maxUs);
  report.Line();
  report.Line(QStringLiteral("%1 rings rung, %2 ring events at the consumer, the last %3 s after "
                             "start_app returned.")
                  .arg(Number(double(outage->rung), 0), Number(double(outage->received), 0),
                       Number(outage->catchUpSeconds, 1)));
  report.Line();
}

void ReportTargets(Report& report, const Results& results) {
  report.Line(QStringLiteral("### Targets (reported, not asserted)"));
  report.Line();
  report.Row({"Target", "Measured", "Met"});
  report.Row({"---", "---", "---"});
  const auto verdict = [](bool met) { return met ? QStringLiteral("yes") : QStringLiteral("no"); };
  for (const auto& [clients, pair] : results.load) {
    const auto& [relay, reference] = pair;
    if (clients == 1000 && relay && reference) {
      const double ratio = relay->latency.p99Us / reference->latency.p99Us;
      report.Row({"relay p99 at 1000 clients within 1.5x the reference's",
                  QStringLiteral("%1 ms vs %2 ms (%3x)")
                      .arg(Number(relay->latency.p99Us / 1000, 2),
                           Number(reference->latency.p99Us / 1000, 2), Number(ratio, 2)),
                  verdict(ratio <= 1.5)});
    }
    if (clients == 100 && relay) {
      report.Row({"at least 2,000 ringing events per second relayed to 100 clients",
                  QStringLiteral("%1 per second").arg(Number(relay->ringsPerSecond, 0)),
                  verdict(relay->ringsPerSecond >= 2000)});
    }
    if (clients == 100 && relay && reference) {
      const double ratio = relay->ringsPerSecond / reference->ringsPerSecond;
      report.Row({"relay full rate at 100 clients at least half the reference's",
                  QStringLiteral("%1 vs %2 per second (%3x)")
                      .arg(Number(relay->ringsPerSecond, 0), Number(reference->ringsPerSecond, 0),
                           Number(ratio, 2)),
                  verdict(ratio >= 0.5)});
    }
  }
  if (results.browsers) {
    const LatencySummary& desks = results.browsers->desksAlone.desks;
    const LatencySummary& browsers = results.browsers->browsersAlone.browsers;
    const double ratio = browsers.p99Us / desks.p99Us;
    report.Row({"1,000 browsers' p99 within 1.5x that of 1,000 extension clients",
                QStringLiteral("%1 ms vs %2 ms (%3x)")
                    .arg(Number(browsers.p99Us / 1000, 2), Number(desks.p99Us / 1000, 2),
                         Number(ratio, 2)),
                verdict(ratio <= 1.5)});
  }
  if (results.streamLoad) {
    const StreamLoadFigures& load = *results.streamLoad;
    const OffAndOn idle = load.MedianIdle();
    report.Row({QStringLiteral("full rate with the publisher on at least 0.9x off (broker at idle "
                               "priority, the median of %1 pairs)")
                    .arg(load.brokerIdle.size()),
                QStringLiteral("%1 vs %2 per second (%3x)")
                    .arg(Number(idle.on.ringsPerSecond, 0), Number(idle.off.ringsPerSecond, 0),
                         Number(idle.Ratio(), 2)),
                verdict(idle.Ratio() >= 0.9)});
    const auto everyRing = [&](const std::vector<OffAndOn>& runs, const QString& broker) {
      int64_t received = 0;
      int64_t rung = 0;
      for (const OffAndOn& run : runs) {
        received += run.on.received;
        rung += run.on.rung;
      }
      report.Row(
          {QStringLiteral("every ring of the full-rate runs at the consumer (broker at %1)")
               .arg(broker),
           QStringLiteral("%1 of %2").arg(Number(double(received), 0), Number(double(rung), 0)),
           verdict(received == rung)});
    };
    everyRing({load.brokerNormal}, QStringLiteral("normal priority"));
    everyRing(load.brokerIdle, QStringLiteral("idle priority"));
  }
  if (results.outage) {
    const OutageFigures& outage = *results.outage;
    report.Row({"every ring of the outage run at the consumer once the broker is back",
                QStringLiteral("%1 of %2")
                    .arg(Number(double(outage.received), 0), Number(double(outage.rung), 0)),
                verdict(outage.received == outage.rung)});
  }
  if (results.relayMemory) {
    const MemoryFigures& memory = *results.relayMemory;
    const double growth = double(memory.atEnd.vmHwmKb) / double(memory.atCheckpoint.vmHwmKb) - 1;
    report.Row({"memory after 1M events within 10% of after 100k",
                QStringLiteral("VmHWM %1 → %2 MiB (%3%)")
                    .arg(Number(double(memory.atCheckpoint.vmHwmKb) / 1024, 1),
                         Number(double(memory.atEnd.vmHwmKb) / 1024, 1), Number(growth * 100, 1)),
                verdict(growth <= 0.10)});
  }
  if (results.relayFlood) {
    const FloodFigures& flood = *results.relayFlood;
    const QString size = Number(double(flood.sentBytes) / (1 << 20), 0);
    report.Row(
        {QStringLiteral("other clients' p99 under 50 ms while one client floods"),
         QStringLiteral("%1 ms during %2 MiB").arg(Number(flood.latency.p99Us / 1000, 2), size),
         verdict(flood.latency.p99Us < 50000)});
    const double growthMiB = double(flood.peakRssKb - flood.startRssKb) / 1024;
    report.Row({QStringLiteral("relay memory within 64 MiB of its start during the flood"),
                QStringLiteral("%1 MiB more at the peak").arg(Number(growthMiB, 1)),
                verdict(growthMiB <= 64)});
  }
  report.Line();
}

std::optional<BenchOptions> ParseOptions(const QCoreApplication& app) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Measures the relay and the reference relay under the same simulated call load."));
  parser.addHelpOption();
  const QString binaryDir = QStringLiteral(TARVEX_BINARY_DIR);
  const QCommandLineOption relay("relay", "Relay binary.", "path", binaryDir + "/Tarvex");
  const QCommandLineOption reference("reference", "Reference relay binary.", "path",
                                     binaryDir + "/bench/referencerelay");
  const QCommandLineOption odbc("odbc", "ODBC connection string (default: $TARVEX_ODBC).", "text");
  const QCommandLineOption clients("clients", "Extension client counts.", "list", "1,100,1000");
  const QCommandLineOption ldk("ldk", "LDK505 clients.", "n", "10");
  const QCommandLineOption accounts("accounts", "Telephony accounts (1 to 60).", "n", "10");
  const QCommandLineOption seconds("seconds", "Length of each measured phase.", "s", "10");
  const QCommandLineOption window("window", "Rings in flight at most.", "n", "256");
  const QCommandLineOption latencyRate("latency-rate", "Rings per second of the latency phase.",
                                       "n", "100");
  const QCommandLineOption memoryEvents("memory-events", "Events of the memory run (0: none).", "n",
                                        "1000000");
  const QCommandLineOption memoryCheckpoint("memory-checkpoint", "First memory reading.", "n",
                                            "100000");
  const QCommandLineOption memoryClients("memory-clients", "Extension clients of the memory run.",
                                         "n", "10");
  const QCommandLineOption floodMiB("flood-mib", "MiB the flood client sends (0: no flood run).",
                                    "n", "400");
  const QCommandLineOption floodClients("flood-clients", "Extension clients of the flood run.", "n",
                                        "100");
  const QCommandLineOption crowd("crowd",
                                 "Connections x rows from one other host beside a desk (0: no "
                                 "crowd run).",
                                 "nxm", "200x100");
  const QCommandLineOption stalledBrowsers(
      "stalled-browsers",
      "Browsers signed in to the feed that never read, beside the crowd run's desk (0: none).", "n",
      "1000");
  const QCommandLineOption browsers(
      "browsers",
      "Browsers of the feed and as many extension clients hearing the same rings (0: no run).", "n",
      "1000");
  const QCommandLineOption stream(
      "stream",
      "Event stream runs against a throw-away RabbitMQ node: full rate with the publisher off and "
      "on (the node and its consumer at normal priority, then at idle priority), and a broker "
      "outage.");
  const QCommandLineOption streamClients("stream-clients", "Extension clients of the stream runs.",
                                         "n", "100");
  const QCommandLineOption streamPairs(
      "stream-pairs", "Runs off and on in turn with the broker at idle priority.", "n", "3");
  const QCommandLineOption outageSeconds("outage-seconds", "How long the broker stays stopped.",
                                         "s", "30");
  const QCommandLineOption outageRate("outage-rate", "Rings per second of the outage run.", "n",
                                      "20");
  const QCommandLineOption markdown("markdown", "Also write the tables to this file.", "path");
  const QCommandLineOption record(
      "record",
      "Relay with send type 2 and centre code 1: every call recorded in the database. Needs "
      "--ldk 0 (an LDK505 line of an answer reads as the ring's).");
  const QCommandLineOption relayStderr("relay-stderr", "Keep the relay's standard error here.",
                                       "path");
  parser.addOptions({relay,
                     reference,
                     odbc,
                     clients,
                     ldk,
                     accounts,
                     seconds,
                     window,
                     latencyRate,
                     memoryEvents,
                     memoryCheckpoint,
                     memoryClients,
                     floodMiB,
                     floodClients,
                     crowd,
                     stalledBrowsers,
                     browsers,
                     stream,
                     streamClients,
                     streamPairs,
                     outageSeconds,
                     outageRate,
                     markdown,
                     record,
                     relayStderr});
  parser.process(app);

  BenchOptions options;
  options.session.relayProgram = parser.value(relay);
  options.session.referenceProgram = parser.value(reference);
  options.session.odbc =
      parser.isSet(odbc) ? parser.value(odbc).toStdString() : qgetenv("TARVEX_ODBC").toStdString();
  options.session.accounts = std::clamp(parser.value(accounts).toInt(), 1, 60);
  options.session.relayStderr = parser.value(relayStderr);
  options.session.record = parser.isSet(record);
  for (const QString& count : parser.value(clients).split(',', Qt::SkipEmptyParts)) {
    options.clientCounts.append(count.toInt());
  }
  options.ldkClients = parser.value(ldk).toInt();
  options.phaseSeconds = parser.value(seconds).toDouble();
  options.window = parser.value(window).toInt();
  options.latencyRate = parser.value(latencyRate).toDouble();
  options.memoryEvents = parser.value(memoryEvents).toLongLong();
  options.memoryCheckpoint = parser.value(memoryCheckpoint).toLongLong();
  options.memoryClients = parser.value(memoryClients).toInt();
  options.floodMiB = parser.value(floodMiB).toLongLong();
  options.floodClients = parser.value(floodClients).toInt();
  const QStringList crowdSize = parser.value(crowd).split(QLatin1Char('x'));
  options.crowdConnections = crowdSize.value(0).toInt();
  options.crowdRows = crowdSize.value(1).toInt();
  options.stalledBrowsers = parser.value(stalledBrowsers).toInt();
  options.browsers = parser.value(browsers).toInt();
  options.stream = parser.isSet(stream);
  options.streamClients = parser.value(streamClients).toInt();
  options.streamPairs = std::max(parser.value(streamPairs).toInt(), 1);
  options.outageSeconds = parser.value(outageSeconds).toDouble();
  options.outageRate = parser.value(outageRate).toDouble();
  options.markdownFile = parser.value(markdown);
  if (options.session.record && options.ldkClients > 0) {
    Progress(QStringLiteral("--record counts rings at extension clients only: give --ldk 0"));
    return std::nullopt;
  }
  if (options.session.odbc.empty()) {
    Progress(QStringLiteral("the relay needs a database: give --odbc or set TARVEX_ODBC"));
    return std::nullopt;
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::optional<BenchOptions> options = ParseOptions(app);
  if (!options) return 2;
  RaiseDescriptorLimit();

  Results results;
  for (const int clients : options->clientCounts) {
    const std::optional<LoadFigures> relay = MeasureLoad(*options, false, clients, 0);
    const double rate = relay ? relay->latencyRate : 0;
    const std::optional<LoadFigures> reference = MeasureLoad(*options, true, clients, rate);
    results.load.push_back({clients, {relay, reference}});
  }
  if (options->memoryEvents > 0) {
    results.relayMemory = MeasureMemory(*options, false);
    results.referenceMemory = MeasureMemory(*options, true);
  }

  if (options->floodMiB > 0) {
    results.relayFlood = MeasureFlood(*options, false, options->latencyRate);
    results.referenceFlood = MeasureFlood(*options, true, options->latencyRate);
  }

  if (options->crowdConnections > 0) results.crowd = MeasureCrowd(*options);
  if (options->browsers > 0) results.browsers = MeasureBrowsers(*options);
  if (options->stream) {
    EventTap tap;
    QString error;
    if (tap.Open(&error)) {
      results.streamLoad = MeasureStreamLoad(*options, tap);
      results.outage = MeasureOutage(*options, tap);
    } else {
      Progress(QStringLiteral("event stream: ") + error);
    }
  }

  Report report;
  ReportLoad(report, *options, results);
  ReportMemory(report, *options, results);
  ReportFlood(report, *options, results);
  ReportCrowd(report, *options, results);
  ReportBrowsers(report, *options, results);
  ReportStream(report, *options, results);
  ReportStartup(report, results);
  ReportTargets(report, results);
  QTextStream(stdout) << report.Text();
  if (!options->markdownFile.isEmpty()) {
    QFile file(options->markdownFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(report.Text().toUtf8()) < 0) {
      Progress(options->markdownFile + QStringLiteral(": ") + file.errorString());
      return 1;
    }
  }
  bool complete = results.relayMemory.has_value() == (options->memoryEvents > 0) &&
                  results.referenceMemory.has_value() == (options->memoryEvents > 0);
  complete &= results.relayFlood.has_value() == (options->floodMiB > 0) &&
              results.referenceFlood.has_value() == (options->floodMiB > 0);
  complete &= results.crowd.has_value() == (options->crowdConnections > 0);
  complete &= results.browsers.has_value() == (options->browsers > 0);
  complete &= results.streamLoad.has_value() == options->stream &&
              results.outage.has_value() == options->stream;
  for (const auto& [clients, pair] : results.load) complete &= pair.first && pair.second;
  return complete ? 0 : 1;
}
