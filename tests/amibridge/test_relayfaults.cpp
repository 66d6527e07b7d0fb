// The bridge program between the real relay and a manager interface that
// misbehaves: garbage, a huge block, a lost link. Both keep running and the
// relay's accounts come back once the PBX does.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <csignal>

#include "amicalls.h"
#include "bridgeprocess.h"
#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
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

}  // namespace
