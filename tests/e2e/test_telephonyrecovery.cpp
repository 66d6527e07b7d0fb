// The real relay against a telephony server that goes away and comes back:
// its accounts return on their own, and calls reach the clients again.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <csignal>
#include <memory>

#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "support/clustertest.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"
#include "tools/telsim/telephonyserver.h"

namespace {

const QString kSignedIn = QStringLiteral("[0]agent1 - 로그인성공");
const QString kLinkLost = QStringLiteral("[0] agent1 - 로그인 실패(기타)");
const QString kPasswordRefused = QStringLiteral("[0] agent2 - 로그인 실패(PasswdErr)");

class TelephonyRecoveryTest : public ClusterTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(telsim.Listen(0)) << telsim.ErrorString();
    for (const char* id : {"agent1", "agent2"}) {
      TelAccount account;
      account.id = QString::fromLatin1(id);
      account.password = QStringLiteral("secret");
      account.number = QStringLiteral("0701234530") + id[5];
      telsim.AddAccount(account);
    }
    QObject::connect(&telsim, &TelephonyServer::SignInHandled,
                     [this](const QString&, const QString& id) { ++signIns[id]; });
  }

  void TearDown() override {
    if (!relay) return;
    relay->Signal(SIGTERM);
    EXPECT_TRUE(relay->WaitFinished());
  }

  // A relay with agent1 signed in and agent2 refused for its password.
  void StartRelay() {
    RelayProcess::Options options;
    options.odbc = cluster->ConnectionString();
    options.telPort = telsim.Port();
    relay = std::make_unique<RelayProcess>(options);
    const QString configHome = relay->options().configHome;
    ASSERT_TRUE(QDir().mkpath(configHome + QStringLiteral("/MERVO")));
    QFile file(configHome + QStringLiteral("/MERVO/Tarvex.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[SETTING]\nUID1=agent1\nPWD1=secret\nSERVERIP1=127.0.0.1\n"
        "UID2=agent2\nPWD2=wrong\nSERVERIP2=127.0.0.1\nSENDTYPE=0\n");
    file.close();
    ASSERT_TRUE(relay->Start());
    ASSERT_TRUE(relay->WaitForOutput(kSignedIn)) << relay->StandardError();
    ASSERT_TRUE(relay->WaitForOutput(kPasswordRefused)) << relay->StandardError();
  }

  qsizetype Count(const QString& line) { return relay->StandardError().count(line); }

  TelephonyServer telsim;
  std::unique_ptr<RelayProcess> relay;
  QHash<QString, int> signIns;
};

TEST_F(TelephonyRecoveryTest, AccountsReturnAfterTheServerRestartsAndCallsFlowAgain) {
  StartRelay();
  TestClient client(relay->options().extPort);
  ASSERT_TRUE(client.Send("301") && client.WaitForBytes(RegisterAck().size()));

  const quint16 port = telsim.Port();
  telsim.Close();
  ASSERT_TRUE(WaitUntil([&] { return Count(kLinkLost) >= 1; }, 10000)) << relay->StandardError();
  // Away for more than one attempt.
  ASSERT_TRUE(WaitUntil([&] { return Count(kLinkLost) >= 2; }, 10000)) << relay->StandardError();
  ASSERT_TRUE(telsim.Listen(port)) << telsim.ErrorString();

  ASSERT_TRUE(WaitUntil([&] { return telsim.IsSignedIn("agent1"); }, 15000))
      << relay->StandardError();
  ASSERT_TRUE(WaitUntil([&] { return Count(kSignedIn) == 2; })) << relay->StandardError();
  telsim.SendRing("agent1", "01012345678", "07077771234", false);
  const QByteArray notice =
      EncodeCallNotice(MakeCallNotice(301, 1234, "01012345678", kCallStateRinging));
  ASSERT_TRUE(client.WaitForBytes(RegisterAck().size() + notice.size()));
  EXPECT_EQ(client.Received().mid(RegisterAck().size()), notice);

  // The refused account was asked once, at start-up, and never again.
  EXPECT_EQ(signIns.value("agent2"), 1);
  EXPECT_EQ(Count(kPasswordRefused), 1);
}

}  // namespace
