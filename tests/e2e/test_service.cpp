// The real binary started as systemd starts a service of Type=notify: what
// it tells the notification socket, and when.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <memory>

#include "core/relay/clientprotocol.h"
#include "support/clustertest.h"
#include "support/notifysocket.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"
#include "tools/telsim/telephonyserver.h"

namespace {

// Keep-alives every half of this.
constexpr int kWatchdogMs = 1000;

class ServiceTest : public ClusterTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(socket.IsOpen());
    ASSERT_TRUE(telsim.Listen(0)) << telsim.ErrorString();
    TelAccount account;
    account.id = QStringLiteral("agent1");
    account.password = QStringLiteral("secret");
    account.number = QStringLiteral("07012345301");
    telsim.AddAccount(account);
  }

  // agent1 signs in, agent2 is refused for its password.
  void StartRelay(const QStringList& arguments) {
    RelayProcess::Options options;
    options.odbc = cluster->ConnectionString();
    options.telPort = telsim.Port();
    options.arguments = arguments;
    options.environment = {{"NOTIFY_SOCKET", socket.Path()},
                           {"WATCHDOG_USEC", QString::number(kWatchdogMs * 1000)},
                           {"WATCHDOG_PID", {}}};
    relay = std::make_unique<RelayProcess>(options);
    QFile file(SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[SETTING]\nUID1=agent1\nPWD1=secret\nSERVERIP1=127.0.0.1\n"
        "UID2=agent2\nPWD2=wrong\nSERVERIP2=127.0.0.1\n");
    file.close();
    ASSERT_TRUE(relay->Start());
  }

  QString SettingsFile() const { return settingsDirectory.filePath(QStringLiteral("tarvex.conf")); }

  NotifySocket socket;
  TelephonyServer telsim;
  QTemporaryDir settingsDirectory;
  std::unique_ptr<RelayProcess> relay;
};

TEST_F(ServiceTest, TellsReadyStatusWatchdogAndStopping) {
  StartRelay({QStringLiteral("--no-window"), QStringLiteral("--config"), SettingsFile()});
  ASSERT_TRUE(socket.WaitFor("READY=1", 30000)) << relay->StandardError();
  // Ready means listening: both ports take a connection at once.
  EXPECT_TRUE(PortAcceptsConnections(relay->options().extPort));
  EXPECT_TRUE(PortAcceptsConnections(relay->options().ldkPort));

  ASSERT_TRUE(socket.WaitFor("STATUS=Accounts signed in: 1 of 2; clients connected: 0"))
      << socket.Messages().join('\n').toStdString();
  TestClient client(relay->options().extPort);
  ASSERT_TRUE(client.Send("301") && client.WaitForBytes(RegisterAck().size()));
  ASSERT_TRUE(socket.WaitFor("STATUS=Accounts signed in: 1 of 2; clients connected: 1"))
      << socket.Messages().join('\n').toStdString();

  // Keep-alives keep coming at about half the allowed time, not in a rush.
  const qsizetype seen = socket.MessagesStartingWith("WATCHDOG=1").size();
  QElapsedTimer span;
  span.start();
  ASSERT_TRUE(socket.WaitForCount("WATCHDOG=1", seen + 3, 30000));
  EXPECT_GE(span.elapsed(), kWatchdogMs / 2);

  relay->Signal(SIGTERM);
  ASSERT_TRUE(socket.WaitFor("STOPPING=1"));
  ASSERT_TRUE(relay->WaitFinished());
  EXPECT_EQ(relay->ExitStatus(), QProcess::NormalExit);
  EXPECT_EQ(relay->ExitCode(), 0);
  // Ready once, before any status; stopping last of all.
  const QList<QByteArray> messages = socket.Messages();
  EXPECT_EQ(messages.count("READY=1"), 1);
  const auto firstStatus = std::find_if(messages.begin(), messages.end(),
                                        [](const QByteArray& m) { return m.startsWith("STATUS="); });
  EXPECT_LT(messages.indexOf("READY=1"), firstStatus - messages.begin()) << messages.join('\n').toStdString();
  EXPECT_EQ(messages.last(), "STOPPING=1");
}

}  // namespace
