#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench/procstats.h"
#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "core/relay/clientregistry.h"
#include "core/text/cp949.h"
#include "support/handlercore.h"
#include "support/postgrescluster.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"
#include "tools/telsim/telephonyserver.h"

// The real relay under faults around it: the database going down and coming
// back, clients that flood, never read or come and go by the thousand, its
// log directory vanishing, the telephony server dropping it. It must keep
// running and keep relaying every call to the clients that behave, without
// growing.
namespace {

constexpr int kNoticeWaitMs = 60000;
const QString kInbound = QStringLiteral("0212345678");

struct Account {
  QString id;
  QString password;
  QString number;
};
const Account kAccounts[] = {
    {QStringLiteral("agent301"), QStringLiteral("pw301"), QStringLiteral("07012345301")},
    {QStringLiteral("agent302"), QStringLiteral("pw302"), QStringLiteral("07012345302")},
};

// A caller's number carries its call's sequence: "010" and eight digits,
// long enough to be relayed and recorded, short enough to arrive whole.
QString CallerOf(int sequence) {
  return QStringLiteral("010%1").arg(sequence, 8, 10, QLatin1Char('0'));
}
int SequenceOf(const QByteArray& caller) {
  return caller.size() == 11 && caller.startsWith("010") ? caller.mid(3).toInt() : -1;
}

QByteArray Garbage(qsizetype size, std::mt19937& random) {
  QByteArray bytes(size, Qt::Uninitialized);
  for (char& byte : bytes) byte = char(random());
  return bytes;
}

// Resident memory of a process in KiB, 0 when it cannot be read.
qint64 ResidentKib(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
  }
  return 0;
}

// Adds the LDK505 ring lines in received to counts, by call sequence.
void CountLdkLines(const QByteArray& received, std::map<int, int>& counts) {
  for (const QByteArray& line : received.split('\n')) {
    const qsizetype colon = line.indexOf(" : ");
    if (line.startsWith('\x07') && colon > 0) ++counts[SequenceOf(line.mid(colon + 3))];
  }
}

// What the clients that behave received, by call sequence.
struct Received {
  std::map<int, int> rings;     // 24-byte records with state 0
  std::map<int, int> answers;   // 24-byte records with state 1
  std::map<int, int> ldkRings;  // LDK505 ring lines (one per notice, of either state)
};

// The relay binary with two accounts on a simulated telephony server in
// this process, send type "always, with database record", centre code 1,
// and one extension client and one LDK505 client that read everything.
class RelayUnderFault {
 public:
  RelayUnderFault(const std::string& odbc, int descriptorLimit) {
    for (const Account& account : kAccounts) {
      TelAccount known;
      known.id = account.id;
      known.password = account.password;
      known.number = account.number;
      telsim.AddAccount(known);
    }
    RelayProcess::Options options;
    options.odbc = odbc;
    options.configHome = m_config.path();
    options.descriptorLimit = descriptorLimit;
    m_options = options;
  }

  // Relay up, both accounts signed in, the healthy clients connected.
  ::testing::AssertionResult Start() {
    if (!telsim.Listen(0))
      return ::testing::AssertionFailure() << "telsim: " << telsim.ErrorString().toStdString();
    QDir(m_config.path()).mkpath(QStringLiteral("MERVO"));
    QFile settings(m_config.filePath(QStringLiteral("MERVO/Tarvex.conf")));
    if (!settings.open(QIODevice::WriteOnly)) return ::testing::AssertionFailure() << "settings";
    QByteArray text = "[SETTING]\n";
    for (int n = 1; n <= int(std::size(kAccounts)); ++n) {
      const Account& account = kAccounts[n - 1];
      text += QStringLiteral("UID%1=%2\nPWD%1=%3\nSERVERIP%1=127.0.0.1\n")
                  .arg(n)
                  .arg(account.id, account.password)
                  .toUtf8();
    }
    text += "SENDTYPE=2\nCENTERID=1\nLOGTYPE=0\n";
    settings.write(text);
    settings.close();

    m_options.telPort = telsim.Port();
    relay = std::make_unique<RelayProcess>(m_options);
    if (!relay->Start() || !relay->WaitListening()) {
      return ::testing::AssertionFailure() << relay->StandardError().toStdString();
    }
    if (!WaitUntil(
            [&] { return telsim.SignedInAccounts().size() == qsizetype(std::size(kAccounts)); },
            kNoticeWaitMs)) {
      return ::testing::AssertionFailure() << "sign-in: " << relay->StandardError().toStdString();
    }
    if (!m_ext.Register(relay->options().extPort, "301,302")) {
      return ::testing::AssertionFailure() << "extension client";
    }
    m_ldk = std::make_unique<TestClient>(relay->options().ldkPort);
    if (!m_ldk->WaitForBytes(GreetingText().size())) return ::testing::AssertionFailure() << "LDK";
    return ::testing::AssertionSuccess();
  }

  quint16 ExtPort() const { return relay->options().extPort; }
  quint16 LdkPort() const { return relay->options().ldkPort; }

  // A call as the server reports it: ringing, answered from outside, ended.
  void Call(int sequence, const QString& accountId = kAccounts[0].id) {
    const QString caller = CallerOf(sequence);
    telsim.SendRing(accountId, caller, kInbound, false);
    telsim.SendHangUp(accountId, caller, kInbound, QStringLiteral("trunk"));
    telsim.SendCallEnd(accountId);
    m_sent.insert(sequence);
  }

  // A ringing that nobody answers.
  void Ring(int sequence) { telsim.SendRing(kAccounts[0].id, CallerOf(sequence), kInbound, false); }

  Received WhatArrived() {
    Received received;
    for (const QByteArray& record : m_ext.Records()) {
      const CallNotice notice = DecodeCallNotice(record);
      auto& counts = notice.state == kCallStateRinging ? received.rings : received.answers;
      ++counts[SequenceOf(CallerIdText(notice))];
    }
    CountLdkLines(m_ldk->Received(), received.ldkRings);
    return received;
  }

  // Every call sent so far reached both healthy clients, each notice once.
  ::testing::AssertionResult EveryCallArrived() {
    std::map<int, int> once, twice;
    for (int sequence : m_sent) {
      once[sequence] = 1;
      twice[sequence] = 2;  // the ring and the answer notice
    }
    Received received;
    const auto complete = [&] {
      received = WhatArrived();
      return received.rings == once && received.answers == once && received.ldkRings == twice;
    };
    if (WaitUntil(complete, kNoticeWaitMs)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << m_sent.size() << " calls sent; extension client: " << received.rings.size()
           << " rings, " << received.answers.size()
           << " answers; LDK505 client: " << received.ldkRings.size() << " calls";
  }

  int StderrCount(const QString& text) { return int(relay->StandardError().count(text)); }

  TelephonyServer telsim;
  std::unique_ptr<RelayProcess> relay;

 private:
  QTemporaryDir m_config;
  RelayProcess::Options m_options;
  handlertest::NoticeClient m_ext;
  std::unique_ptr<TestClient> m_ldk;
  QSet<int> m_sent;
};

class FaultTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Under AddressSanitizer freed memory waits in a quarantine of 256 MiB,
    // which would read as growth: the relays started here get a small one.
    // A build without the sanitizer ignores the variable.
    savedAsanOptions = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS",
            savedAsanOptions + (savedAsanOptions.isEmpty() ? "" : ":") + "quarantine_size_mb=8");
    cluster = new PostgresCluster;
    ASSERT_TRUE(cluster->Start()) << cluster->LastError().toStdString();
  }
  static void TearDownTestSuite() {
    delete cluster;
    cluster = nullptr;
    qputenv("ASAN_OPTIONS", savedAsanOptions);
  }
  void SetUp() override {
    ASSERT_TRUE(cluster->ClearCalls()) << cluster->LastError().toStdString();
    fixture = std::make_unique<RelayUnderFault>(cluster->ConnectionString(), descriptorLimit);
    ASSERT_TRUE(fixture->Start());
  }
  // After all it went through, the relay is still up and still ends as it
  // should (log file closed, clients let go); under LeakSanitizer, memory
  // lost on the way fails its exit code.
  void TearDown() override {
    if (!fixture || !fixture->relay) return;
    RelayProcess& relay = *fixture->relay;
    ASSERT_TRUE(relay.IsRunning()) << relay.StandardError().right(4000).toStdString();
    relay.Signal(SIGTERM);
    ASSERT_TRUE(relay.WaitFinished());
    EXPECT_EQ(relay.ExitStatus(), QProcess::NormalExit);
    EXPECT_EQ(relay.ExitCode(), 0) << relay.StandardError().right(4000).toStdString();
  }

  // Sequences of the recorded calls.
  static QSet<int> RecordedSequences() {
    QSet<int> sequences;
    const std::optional<QList<CallRow>> rows = cluster->Calls();
    EXPECT_TRUE(rows.has_value()) << cluster->LastError().toStdString();
    for (const CallRow& row : rows.value_or(QList<CallRow>())) {
      sequences.insert(SequenceOf(row.caller));
    }
    return sequences;
  }

  static PostgresCluster* cluster;
  static QByteArray savedAsanOptions;
  int descriptorLimit = 0;  // 0: the relay's own
  std::unique_ptr<RelayUnderFault> fixture;
};

PostgresCluster* FaultTest::cluster = nullptr;
QByteArray FaultTest::savedAsanOptions;

QSet<int> Range(int first, int last) {
  QSet<int> sequences;
  for (int s = first; s <= last; ++s) sequences.insert(s);
  return sequences;
}

// Calls one after another, a short pause each, while step runs on a thread of
// its own; returns the sequences called meanwhile.
QSet<int> CallsDuring(RelayUnderFault& relay, int& sequence, const std::function<bool()>& step,
                      bool& stepResult) {
  std::atomic<bool> done = false;
  std::thread worker([&] {
    stepResult = step();
    done = true;
  });
  QSet<int> called;
  for (int n = 0; n < 1000 && !done; ++n) {
    relay.Call(++sequence);
    called.insert(sequence);
    WaitUntil([&] { return done.load(); }, 20);
  }
  worker.join();
  return called;
}

TEST_F(FaultTest, DatabaseKilledAndRestartedDuringCallsLosesNoNoticeAndRecordsAgain) {
  RelayUnderFault& relay = *fixture;
  int sequence = 0;
  for (int n = 0; n < 10; ++n) relay.Call(++sequence);
  ASSERT_TRUE(relay.EveryCallArrived());
  ASSERT_EQ(RecordedSequences(), Range(1, sequence));

  bool killed = false;
  const QSet<int> whileKilled = CallsDuring(
      relay, sequence, [] { return cluster->Kill(); }, killed);
  ASSERT_TRUE(killed) << cluster->LastError().toStdString();
  const int firstDown = sequence + 1;
  for (int n = 0; n < 5; ++n) relay.Call(++sequence);
  const QSet<int> whileDown = Range(firstDown, sequence);
  bool started = false;
  const QSet<int> whileStarting = CallsDuring(
      relay, sequence, [] { return cluster->Start(); }, started);
  ASSERT_TRUE(started) << cluster->LastError().toStdString();
  const int firstUp = sequence + 1;
  for (int n = 0; n < 10; ++n) relay.Call(++sequence);
  EXPECT_TRUE(relay.EveryCallArrived());

  // Every call is recorded once, or reported as not recorded: while the
  // server is down certainly not, once it is back certainly.
  const std::optional<QList<CallRow>> rows = cluster->Calls();
  ASSERT_TRUE(rows.has_value()) << cluster->LastError().toStdString();
  std::map<int, int> recorded;
  for (const CallRow& row : *rows) ++recorded[SequenceOf(row.caller)];
  const auto reported = [&](int s) {
    return relay.StderrCount(FromCp949(
               handlertest::RecordFailureLine(CallerOf(s).toLatin1(), "5678", "301"))) > 0;
  };
  for (int s = 1; s <= sequence; ++s) {
    EXPECT_LE(recorded[s], 1) << s;
    EXPECT_TRUE(recorded[s] == 1 || reported(s)) << s;
    if (whileDown.contains(s)) {
      EXPECT_TRUE(recorded[s] == 0 && reported(s)) << s;
    }
    if (s >= firstUp || s <= 10) {
      EXPECT_TRUE(recorded[s] == 1 && !reported(s)) << s;
    }
  }
  RecordProperty("callsWhileKilled", int(whileKilled.size()));
  RecordProperty("callsWhileStarting", int(whileStarting.size()));
}

// One round of client faults, with calls going on throughout.
void ClientFaultRound(RelayUnderFault& relay, int& sequence, std::mt19937& random) {
  // Flooders: megabytes of garbage on both ports; they read nothing back.
  {
    TestClient extFlood(relay.ExtPort());
    TestClient ldkFlood(relay.LdkPort());
    for (int piece = 0; piece < 16; ++piece) {
      ASSERT_TRUE(extFlood.Send(Garbage(256 * 1024, random)));
      ASSERT_TRUE(ldkFlood.Send(Garbage(64 * 1024, random)));
      relay.Call(++sequence, kAccounts[piece % 2].id);
    }
    ASSERT_TRUE(relay.EveryCallArrived());
  }

  // A client with a small receive buffer that files many texts and then stops
  // reading: each ring now sends it a record per text, until the relay lets it go.
  {
    const QString dropped = QStringLiteral("클라이언트가 수신하지 않아 연결을 끊었습니다.");
    const int droppedBefore = relay.StderrCount(dropped);
    TestClient stuck(relay.ExtPort(), 4096);
    // As many as one client may own.
    for (int n = 0; n < ClientRegistry::kMaxRowsPerClient; ++n) {
      const qsizetype acks = stuck.Received().size();
      // Texts of its own: one equal to another client's would take that client's row over.
      ASSERT_TRUE(stuck.Send("301," + QByteArray::number(1000 + n)));
      ASSERT_TRUE(stuck.WaitForBytes(acks + RegisterAck().size()));
    }
    // With its rows bounded, a ring sends it a few KiB: enough calls to fill
    // what the system buffers for it, however large it grows that.
    for (int call = 0; call < 3000 && relay.StderrCount(dropped) == droppedBefore; ++call) {
      relay.Call(++sequence);
      // Calls go out in bursts; the relay gets a moment between them.
      if (call % 20 == 19) {
        WaitUntil([&] { return relay.StderrCount(dropped) > droppedBefore; }, 200);
      }
    }
    EXPECT_EQ(relay.StderrCount(dropped), droppedBefore + 1);
    ASSERT_TRUE(relay.EveryCallArrived());
  }

  // A thousand clients of both kinds that come and go; every fifth waits for
  // the relay's answer, so that the backlog never fills.
  for (int n = 0; n < 1000; ++n) {
    switch (n % 5) {
      case 0: {
        TestClient client(relay.ExtPort());
        ASSERT_TRUE(client.Send("30" + QByteArray::number(n % 3)));
        ASSERT_TRUE(client.WaitForBytes(RegisterAck().size()));
        break;
      }
      case 1:
        TestClient(relay.ExtPort()).Close();
        break;
      case 2: {
        TestClient client(relay.LdkPort());
        ASSERT_TRUE(client.WaitForBytes(GreetingText().size()));
        break;
      }
      case 3:
        TestClient(relay.ExtPort()).Send("30");
        break;
      default:
        TestClient(relay.LdkPort()).Close();
    }
    if (n % 100 == 0) relay.Call(++sequence, kAccounts[n / 100 % 2].id);
  }
  ASSERT_TRUE(relay.EveryCallArrived());
}

TEST_F(FaultTest, ClientsThatFloodStallOrChurnNeitherStopTheRelayNorGrowIt) {
  RelayUnderFault& relay = *fixture;
  std::mt19937 random(20261207);
  int sequence = 0;
  ClientFaultRound(relay, sequence, random);
  ASSERT_FALSE(HasFatalFailure());
  const qint64 afterFirst = ResidentKib(relay.relay->ProcessId());
  ClientFaultRound(relay, sequence, random);
  ASSERT_FALSE(HasFatalFailure());
  const qint64 afterSecond = ResidentKib(relay.relay->ProcessId());
  ASSERT_GT(afterFirst, 0);
  // The first round brings every buffer and table to its working size; a
  // second one of the same must not need much more.
  EXPECT_LT(afterSecond - afterFirst, 20 * 1024) << afterFirst << " KiB, then " << afterSecond;
}

TEST_F(FaultTest, LogDirectoryRemovedOrReplacedByAFileWhileRunning) {
  RelayUnderFault& relay = *fixture;
  const QString logDirectory = relay.relay->options().logDirectory;
  relay.Call(1);
  ASSERT_TRUE(relay.EveryCallArrived());

  ASSERT_TRUE(QDir(logDirectory).removeRecursively());
  for (int s = 2; s <= 5; ++s) relay.Call(s);
  EXPECT_TRUE(relay.EveryCallArrived());

  QFile blocker(logDirectory);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  for (int s = 6; s <= 10; ++s) relay.Call(s);
  EXPECT_TRUE(relay.EveryCallArrived());
}

TEST_F(FaultTest, TelephonyServerDroppingTheRelayLeavesTheOtherAccountAndTheClients) {
  RelayUnderFault& relay = *fixture;
  const QString second = kAccounts[1].id;
  relay.Call(1);
  relay.Call(2, second);
  ASSERT_TRUE(relay.EveryCallArrived());

  // Garbage first: binary bytes, an endless line, half a line at the close.
  std::mt19937 random(7);
  relay.telsim.SendBytes(kAccounts[0].id, Garbage(256 * 1024, random) + '\n');
  relay.telsim.SendBytes(kAccounts[0].id, QByteArray(200 * 1024, 'x') + '\n');
  relay.Call(3);
  ASSERT_TRUE(relay.EveryCallArrived());
  relay.telsim.CloseConnections(kAccounts[0].id, "EVENT\tRing\tEVENT:RING|CALLERID:0109");
  ASSERT_TRUE(relay.relay->WaitForOutput(QStringLiteral("agent301 - 로그인 실패(")))
      << relay.relay->StandardError().toStdString();

  for (int s = 4; s <= 8; ++s) relay.Call(s, second);
  EXPECT_TRUE(relay.EveryCallArrived());

  // The server goes away altogether; the clients are still served.
  relay.telsim.Close();
  ASSERT_TRUE(relay.relay->WaitForOutput(QStringLiteral("agent302 - 로그인 실패(")))
      << relay.relay->StandardError().toStdString();
  TestClient newcomer(relay.LdkPort());
  EXPECT_TRUE(newcomer.WaitForBytes(GreetingText().size()));
  handlertest::NoticeClient registered;
  EXPECT_TRUE(registered.Register(relay.ExtPort(), "302"));
  EXPECT_TRUE(relay.EveryCallArrived());
}

// A client that sends hundreds of megabytes of distinct numbers as fast as
// it can: the relay reads it at its own pace, files no more than its bound
// of rows, stays small, and keeps relaying every call to everyone else.
TEST_F(FaultTest, ClientSendingHundredsOfMegabytesOfNumbersNeitherGrowsTheRelayNorStallsIt) {
  RelayUnderFault& relay = *fixture;
  const qint64 pid = relay.relay->ProcessId();
  int sequence = 0;
  relay.Call(++sequence);
  ASSERT_TRUE(relay.EveryCallArrived());
  const qint64 startKib = ResidentKib(pid);
  ASSERT_GT(startKib, 0);

  constexpr qint64 kFloodBytes = 400LL * 1024 * 1024;
  std::atomic<bool> flooding = true;
  std::atomic<qint64> sent = 0;
  const quint16 port = relay.ExtPort();
  // It reads what comes back on a thread of its own: with the send type
  // "always" every ring reaches its rows too, and a client that never read
  // would be let go before the end of its flood.
  auto flood = std::make_shared<TestClient>(port);
  std::thread drainer([flood] {
    while (!flood->ReceiveBlocking(64 * 1024).isEmpty()) {
    }
  });
  std::thread flooder([&, flood] {
    qint64 number = 1000000;
    while (sent < kFloodBytes) {
      QByteArray chunk;
      chunk.reserve(1 << 20);
      while (chunk.size() < (1 << 20)) chunk += QByteArray::number(number++) + '\n';
      // Blocking: as fast as the relay lets the system take it.
      if (!flood->SendBlocking(chunk)) break;
      sent += chunk.size();
    }
    flood->ShutdownWrite();
    flooding = false;
  });

  // A client of its own on a thread of its own notes when each ring arrives,
  // so that the test's event loop does not count in what it measures.
  using Clock = std::chrono::steady_clock;
  std::mutex arrivalsMutex;
  std::map<int, Clock::time_point> arrivals;
  std::atomic<bool> timedRegistered = false;
  auto timed = std::make_shared<TestClient>(port);
  std::thread timer([&, timed] {
    if (!timed->SendBlocking("301")) return;
    QByteArray received;
    while (true) {
      const QByteArray more = timed->ReceiveBlocking(64 * 1024);
      if (more.isEmpty()) return;
      received += more;
      if (received.size() >= RegisterAck().size()) timedRegistered = true;
      const qsizetype records = (received.size() - RegisterAck().size()) / kCallNoticeSize;
      for (qsizetype n = 0; n < records; ++n) {
        const CallNotice notice = DecodeCallNotice(
            QByteArrayView(received).sliced(RegisterAck().size() + n * kCallNoticeSize));
        if (notice.state != kCallStateRinging) continue;
        const std::lock_guard lock(arrivalsMutex);
        arrivals.emplace(SequenceOf(CallerIdText(notice)), Clock::now());
      }
      received.remove(RegisterAck().size(), records * kCallNoticeSize);
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return timedRegistered.load(); }));

  qint64 peakKib = startKib;
  std::map<int, Clock::time_point> calledAt;
  while (flooding) {
    calledAt[++sequence] = Clock::now();
    relay.Call(sequence);
    WaitUntil([] { return false; }, 20);
    peakKib = std::max(peakKib, ResidentKib(pid));
  }
  flooder.join();
  drainer.join();
  EXPECT_GE(sent.load(), kFloodBytes);
  EXPECT_TRUE(relay.EveryCallArrived());
  ASSERT_TRUE(WaitUntil([&] {
    const std::lock_guard lock(arrivalsMutex);
    return arrivals.count(sequence) > 0;
  }));
  timed->ShutdownWrite();
  timer.join();
  EXPECT_LT(peakKib - startKib, 64 * 1024)
      << startKib << " KiB at the start, " << peakKib << " KiB at the peak";
  std::vector<qint64> latenciesMs;
  for (const auto& [called, at] : calledAt) {
    const auto arrived = arrivals.find(called);
    if (arrived == arrivals.end()) continue;
    latenciesMs.push_back(
        std::chrono::duration_cast<std::chrono::milliseconds>(arrived->second - at).count());
  }
  EXPECT_EQ(latenciesMs.size(), calledAt.size());
  std::sort(latenciesMs.begin(), latenciesMs.end());
  ASSERT_FALSE(latenciesMs.empty());
  const qint64 p99 = latenciesMs[std::min(latenciesMs.size() - 1, latenciesMs.size() * 99 / 100)];
  RecordProperty("calls", int(latenciesMs.size()));
  RecordProperty("p99Ms", int(p99));
  RecordProperty("peakGrowthKib", int(peakKib - startKib));
  std::printf("flood: %zu calls, p99 %lld ms, peak growth %lld KiB\n", latenciesMs.size(),
              static_cast<long long>(p99), static_cast<long long>(peakKib - startKib));
}

// How long the unanswered-ring test rings: TARVEX_UNANSWERED_SECONDS, else
// five minutes, or half a minute under the sanitizers.
int UnansweredRingSeconds() {
  bool set = false;
  const int seconds = qEnvironmentVariableIntValue("TARVEX_UNANSWERED_SECONDS", &set);
  if (set && seconds > 0) return seconds;
#ifdef TARVEX_SANITIZED
  return 30;
#else
  return 300;
#endif
}

// Relay CPU time per second of wall time between two readings.
struct CpuReading {
  qint64 elapsedMs;
  double cpuSeconds;
};
double CoresBusy(const CpuReading& from, const CpuReading& to) {
  return (to.cpuSeconds - from.cpuSeconds) * 1000.0 /
         double(qMax<qint64>(to.elapsedMs - from.elapsedMs, 1));
}

// Many LDK505 clients put two activity lines each into the list per notice;
// with rings that are never answered nothing else ever cut the list back.
TEST_F(FaultTest, UnansweredRingsToManyLdkClientsKeepTheRelayFlatAndLoseNoNotice) {
  constexpr int kLdkClients = 50;
  constexpr int kRingsPerSecond = 50;
  RelayUnderFault& relay = *fixture;
  const pid_t pid = pid_t(relay.relay->ProcessId());
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int n = 0; n < kLdkClients; ++n) {
    clients.push_back(std::make_unique<TestClient>(relay.LdkPort()));
    ASSERT_TRUE(clients.back()->WaitForBytes(GreetingText().size())) << n;
  }

  const qint64 totalMs = qint64(UnansweredRingSeconds()) * 1000;
  const qint64 windowMs = qMin<qint64>(60000, totalMs / 5);
  QElapsedTimer clock;
  clock.start();
  const auto read = [&] { return CpuReading{clock.elapsed(), CpuSecondsOf(pid)}; };
  const CpuReading start = read();
  std::optional<CpuReading> firstEnd, lastStart;
  qint64 residentAfterFirst = 0;
  // Callers in scattered order, as a real centre's are: each ring's lines
  // land somewhere inside the sorted part of the list, not at its end.
  const auto scattered = [](int ring) { return int(quint64(ring) * 2654435761u % 100000000u); };
  int rings = 0;
  std::map<int, int> once;
  while (clock.elapsed() < totalMs) {
    const qint64 due = clock.elapsed() * kRingsPerSecond / 1000;
    while (rings < due) {
      once[scattered(++rings)] = 1;
      relay.Ring(scattered(rings));
    }
    if (!firstEnd && clock.elapsed() >= windowMs) {
      firstEnd = read();
      residentAfterFirst = ResidentKib(pid);
    }
    if (!lastStart && clock.elapsed() >= totalMs - windowMs) lastStart = read();
    for (const auto& client : clients) client->Received();
    WaitUntil([] { return false; }, 10);
  }
  const CpuReading end = read();
  ASSERT_TRUE(firstEnd && lastStart);

  const double firstCores = CoresBusy(start, *firstEnd);
  const double lastCores = CoresBusy(*lastStart, end);
  RecordProperty("coresFirstWindow", QString::number(firstCores).toStdString());
  RecordProperty("coresLastWindow", QString::number(lastCores).toStdString());
  EXPECT_LT(lastCores, 2 * firstCores + 0.1) << firstCores << " cores, then " << lastCores;
  const qint64 residentAtEnd = ResidentKib(pid);
  EXPECT_LT(residentAtEnd - residentAfterFirst, 32 * 1024)
      << residentAfterFirst << " KiB, then " << residentAtEnd;

  // Each client gets its notices in order: once the last has come, all have.
  const QByteArray last = CallerOf(scattered(rings)).toLatin1();
  for (int n = 0; n < kLdkClients; ++n) {
    TestClient& client = *clients[size_t(n)];
    EXPECT_TRUE(WaitUntil([&] { return client.Received().contains(last); }, kNoticeWaitMs)) << n;
    std::map<int, int> arrived;
    CountLdkLines(client.Received(), arrived);
    EXPECT_EQ(arrived, once) << "client " << n << " of " << rings << " rings";
  }
}

// Descriptors a process holds.
int DescriptorsOf(pid_t pid) {
  return int(
      QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::Files | QDir::System).size());
}

// Opens count connections to the relay's port without waiting for its
// answers, a group at a time: a group that found the backlog full would be
// dropped by the system unseen, so the next waits until the relay has taken
// the last one (or a moment, once it takes no more). Returns the descriptors.
std::vector<int> ConnectMany(quint16 port, int count, pid_t relay) {
  constexpr int kGroup = 25;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<int> descriptors;
  int relayHeld = DescriptorsOf(relay);
  for (int n = 0; n < count; ++n) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0) break;
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    descriptors.push_back(fd);
    if (n % kGroup == kGroup - 1) {
      WaitUntil([&] { return DescriptorsOf(relay) >= relayHeld + kGroup; }, 300);
      relayHeld = DescriptorsOf(relay);
    }
  }
  return descriptors;
}

class FaultAtDescriptorLimitTest : public FaultTest {
 protected:
  FaultAtDescriptorLimitTest() { descriptorLimit = 1024; }
};

// Every accept fails while no descriptor is left: the relay must wait for
// one instead of asking again on every pass of its event loop.
TEST_F(FaultAtDescriptorLimitTest, ConnectionsPastTheLimitNeitherSpinNorStopTheRelay) {
  const QString paused = QStringLiteral("연결 수가 한도에 이르러 새 연결을 잠시 받지 않습니다.");
  const QString resumed = QStringLiteral("새 연결을 다시 받습니다.");
  RelayUnderFault& relay = *fixture;
  const pid_t pid = pid_t(relay.relay->ProcessId());
  int sequence = 0;

  std::vector<int> flood = ConnectMany(relay.ExtPort(), 1500, pid);
  ASSERT_EQ(flood.size(), 1500u);
  EXPECT_TRUE(relay.relay->WaitForOutput(paused, kNoticeWaitMs))
      << relay.relay->StandardError().right(4000).toStdString();

  // Connections still wait in the backlog: a relay that kept trying would
  // burn a core here.
  QElapsedTimer clock;
  clock.start();
  const CpuReading before{0, CpuSecondsOf(pid)};
  WaitUntil([] { return false; }, 3000);
  const double cores = CoresBusy(before, CpuReading{clock.elapsed(), CpuSecondsOf(pid)});
  RecordProperty("coresAtTheLimit", QString::number(cores).toStdString());
  EXPECT_LT(cores, 0.3);

  for (int n = 0; n < 10; ++n) relay.Call(++sequence, kAccounts[n % 2].id);
  EXPECT_TRUE(relay.EveryCallArrived());
  EXPECT_EQ(relay.StderrCount(resumed), 0);

  // Descriptors come free: the relay takes what waited and serves newcomers.
  for (size_t n = 0; n < 1000; ++n) ::close(flood[n]);
  flood.erase(flood.begin(), flood.begin() + 1000);
  EXPECT_TRUE(relay.relay->WaitForOutput(resumed, kNoticeWaitMs))
      << relay.relay->StandardError().right(4000).toStdString();
  TestClient newcomer(relay.LdkPort());
  EXPECT_TRUE(newcomer.WaitForBytes(GreetingText().size(), kNoticeWaitMs));
  handlertest::NoticeClient registered;
  EXPECT_TRUE(registered.Register(relay.ExtPort(), "302"));
  relay.Call(++sequence);
  EXPECT_TRUE(relay.EveryCallArrived());
  EXPECT_EQ(relay.StderrCount(paused), 1);
  EXPECT_EQ(relay.StderrCount(resumed), 1);
  for (const int fd : flood) ::close(fd);
}

}  // namespace
