// The bridge program between the real relay and a manager interface that
// misbehaves: garbage, a huge block, a lost link. Both keep running and the
// relay's accounts come back once the PBX does. And the bridge held at its
// descriptor limit by more connections than that.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <csignal>
#include <vector>

#include "amicalls.h"
#include "bench/procstats.h"
#include "bridgeprocess.h"
#include "core/config/descriptorlimit.h"
#include "core/relay/acceptpause.h"
#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "core/telephony/networktelcontrol.h"
#include "scriptedamipeer.h"
#include "support/postgrescluster.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"

namespace {

int Count(const QString& text, const QString& part) { return int(text.count(part)); }

TEST(RelayThroughBridge, KeepsRunningThroughPbxFaultsAndSignsBackIn) {
  PostgresCluster cluster;
  ASSERT_TRUE(cluster.Start()) << cluster.LastError();
  ScriptedAmiPeer peer("tarvex", "bridge-secret");
  ASSERT_TRUE(peer.Listen());
  BridgeProcess bridge(peer.Port(), "tarvex", "bridge-secret");
  QString error;
  ASSERT_TRUE(bridge.Start(&error)) << error;

  RelayProcess::Options options;
  options.odbc = cluster.ConnectionString();
  options.telPort = bridge.Port();
  RelayProcess relay(options);
  ASSERT_TRUE(QDir().mkpath(relay.options().configHome + QStringLiteral("/MERVO")));
  QFile settings(relay.options().configHome + QStringLiteral("/MERVO/Tarvex.conf"));
  ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
  settings.write(RelaySettingsForBridge());
  settings.close();
  ASSERT_TRUE(relay.Start() && relay.WaitListening()) << relay.StandardError();
  for (int n = 1; n <= 3; ++n) {
    ASSERT_TRUE(relay.WaitForOutput(QStringLiteral("[0]agent%1 - 로그인성공").arg(n), 20000))
        << relay.StandardError();
  }
  TestClient agent1(relay.options().extPort);
  ASSERT_TRUE(agent1.Send("301") && agent1.WaitForBytes(RegisterAck().size()));

  // Garbage, a block of a megabyte and a flood of headers, then a call.
  QByteArray garbage = QByteArray("\0\xff no colon\r\n: x\r\n\r\n", 20);
  garbage += "Event: DialBegin\r\nHuge: " + QByteArray(1024 * 1024, 'x') + "\r\n\r\n";
  for (int i = 0; i < 20000; ++i) garbage += "Event: Hangup\r\n";
  garbage += "\r\n";
  peer.Play(garbage);
  const AmiCall call = AmiCalls()[0];
  peer.Play(AmiBytes(call.events));
  const AgentEvent& ring = call.expected[0];
  const QByteArray records =
      EncodeCallNotice(MakeCallNotice(301, 1234, ring.caller, kCallStateRinging)) +
      EncodeCallNotice(MakeCallNotice(301, 1234, ring.caller, kCallStateAnswer));
  ASSERT_TRUE(agent1.WaitForBytes(RegisterAck().size() + records.size(), 20000));
  EXPECT_EQ(agent1.Received().mid(RegisterAck().size()).toHex(' '), records.toHex(' '));
  EXPECT_TRUE(bridge.Output().contains("oversized AMI block")) << bridge.Output().toStdString();

  // The PBX goes away: every account shows the failure, and signs in again
  // when it is back.
  peer.StopListening();
  peer.DropConnections();
  for (int n = 1; n <= 3; ++n) {
    EXPECT_TRUE(
        relay.WaitForOutput(QStringLiteral("[0] agent%1 - 로그인 실패(기타)").arg(n), 20000))
        << relay.StandardError();
  }
  ASSERT_TRUE(peer.Listen());
  for (int n = 1; n <= 3; ++n) {
    const QString signedIn = QStringLiteral("[0]agent%1 - 로그인성공").arg(n);
    EXPECT_TRUE(WaitUntil([&] { return Count(relay.StandardError(), signedIn) == 2; }, 20000))
        << relay.StandardError();
  }
  EXPECT_TRUE(relay.IsRunning());
  EXPECT_TRUE(bridge.IsRunning());

  // And calls come through again.
  const qsizetype before = agent1.Received().size();
  peer.Play(AmiBytes(call.events));
  ASSERT_TRUE(agent1.WaitForBytes(before + records.size(), 20000));
  EXPECT_EQ(agent1.Received().mid(before).toHex(' '), records.toHex(' '));

  relay.Signal(SIGTERM);
  EXPECT_TRUE(relay.WaitFinished());
}

pid_t ProcessOf(const QString& binary) {
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(entry)) == binary) {
      return pid_t(entry.toInt());
    }
  }
  return 0;
}

// Waiting for descriptors rather than asking on every pass of its loop, it
// answers a sign-in once some are free.
TEST(BridgeAtDescriptorLimit, WaitsWithoutSpinningAndAnswersSignInsOnceFree) {
  const QByteArray paused = QStringLiteral("한도에 이르러 새 연결을 잠시 받지 않습니다").toUtf8();
  const QByteArray resumed = QStringLiteral("새 연결을 다시 받습니다").toUtf8();
  RaiseDescriptorLimit();  // for the flood below
  ScriptedAmiPeer peer("tarvex", "bridge-secret");
  ASSERT_TRUE(peer.Listen());
  BridgeProcess bridge(peer.Port(), "tarvex", "bridge-secret");
  QString error;
  ASSERT_TRUE(bridge.Start(&error)) << error;
  const pid_t pid =
      ProcessOf(QStringLiteral(TARVEX_BINARY_DIR "/tools/amibridge/tarvex-amibridge"));
  ASSERT_GT(pid, 0);  // 0 would be this process
  const rlimit limit{1024, 1024};
  ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, &limit, nullptr), 0);

  const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(pid));
  const auto held = [&] {
    return int(
        descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
  };
  sockaddr_in address{AF_INET, htons(bridge.Port()), {htonl(INADDR_LOOPBACK)}, {}};
  std::vector<int> flood;
  // Closed on a failed assertion too, or the next repetition starts short of descriptors.
  const auto closeFlood = [&] {
    for (const int fd : flood) ::close(fd);
    flood.clear();
  };
  const auto closeFloodAtEnd = qScopeGuard(closeFlood);
  // A group at a time, each taken before the next: a burst past the backlog
  // would be dropped by the system and come back only slowly on a busy machine.
  constexpr int kGroup = 25;
  for (int n = 0; n < 1200 && !bridge.Output().contains(paused); n += kGroup) {
    const int before = held();
    for (int i = 0; i < kGroup; ++i) {
      flood.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
      ::connect(flood.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    WaitUntil([&] { return held() >= before + kGroup || bridge.Output().contains(paused); }, 5000);
  }
  ASSERT_TRUE(WaitUntil([&] { return bridge.Output().contains(paused); }, 20000))
      << bridge.Output().toStdString();
  QElapsedTimer clock;
  clock.start();
  const double cpuBefore = CpuSecondsOf(pid);
  WaitUntil([] { return false; }, 3000);
  EXPECT_LT((CpuSecondsOf(pid) - cpuBefore) * 1000 / double(clock.elapsed()), 0.3);  // cores
  // It stopped short of its limit, keeping room for the PBX link.
  EXPECT_LT(held(), int(limit.rlim_cur) - AcceptPause::kReserve / 2);

  closeFlood();
  EXPECT_TRUE(bridge.WaitForOutput(0, resumed)) << bridge.Output().toStdString();
  NetworkTelControl control(1029, bridge.Port());
  ASSERT_TRUE(control.Login("agent1", "secret1", "127.0.0.1"));
  EXPECT_TRUE(bridge.WaitForOutput(0, "LOGIN agent1: RESULT:LOGIN|STATUS:1|"));
  EXPECT_EQ(bridge.Output().count(paused), 1) << bridge.Output().toStdString();
}

}  // namespace
