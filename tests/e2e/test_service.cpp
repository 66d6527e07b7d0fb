// The real binary started as systemd starts a service of Type=notify: what
// it tells the notification socket, and when.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
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

  ASSERT_TRUE(socket.WaitFor("STATUS=Accounts signed in: 1 of 2; clients connected: 0; call records waiting: 0"))
      << socket.Messages().join('\n').toStdString();
  TestClient client(relay->options().extPort);
  ASSERT_TRUE(client.Send("301") && client.WaitForBytes(RegisterAck().size()));
  ASSERT_TRUE(socket.WaitFor("STATUS=Accounts signed in: 1 of 2; clients connected: 1; call records waiting: 0"))
      << socket.Messages().join('\n').toStdString();

  // The status follows an account that loses its link.
  telsim.Close();
  ASSERT_TRUE(socket.WaitFor("STATUS=Accounts signed in: 0 of 2; clients connected: 1; call records waiting: 0"))
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
  const auto firstStatus = std::find_if(messages.begin(), messages.end(), [](const QByteArray& m) {
    return m.startsWith("STATUS=");
  });
  EXPECT_LT(messages.indexOf("READY=1"), firstStatus - messages.begin())
      << messages.join('\n').toStdString();
  EXPECT_EQ(messages.last(), "STOPPING=1");
}

// Headless under systemd, what goes wrong is an error on the journal, the
// activity an information; elsewhere the same lines come plain.
TEST_F(ServiceTest, ProblemsAreErrorsOnTheJournal) {
  QTcpServer occupier;
  ASSERT_TRUE(occupier.listen(QHostAddress::AnyIPv4, 0));
  QTemporaryDir scratch;
  QFile blocker(scratch.filePath(QStringLiteral("not-a-directory")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString unwritableLog = blocker.fileName() + QStringLiteral("/CIDLog");
  const std::string unreachableDatabase =
      "DRIVER={PostgreSQL ANSI};SERVER=127.0.0.1;PORT=1;UID=nobody;PWD=x;DATABASE=none;";

  struct Case {
    const char* what;
    bool journal;
    quint16 extPort;  // 0: a free one
    QString logDirectory;
    std::string odbc;  // empty: the test cluster
    QString line;      // expected on standard error, whole
    bool keepsRunning;
  };
  const QString portLine = QStringLiteral("Cannot listen on port %1: ").arg(occupier.serverPort());
  const QString logLine = QStringLiteral("Cannot write the log file %1/").arg(unwritableLog);
  // clang-format off
  const Case cases[] = {
      {"port taken",        true,  occupier.serverPort(), {},            {},
       QStringLiteral("<3>") + portLine, true},
      {"port taken, plain", false, occupier.serverPort(), {},            {},
       portLine, true},
      {"log unwritable",    true,  0,                     unwritableLog, {},
       QStringLiteral("<3>") + logLine, true},
      {"no database",       true,  0,                     {},            unreachableDatabase,
       QStringLiteral("<3>Tarvex: 서버에 접속할수 없습니다."), false},
  };
  // clang-format on
  for (const Case& c : cases) {
    RelayProcess::Options options;
    options.odbc = c.odbc.empty() ? cluster->ConnectionString() : c.odbc;
    options.telPort = telsim.Port();
    options.extPort = c.extPort;
    options.logDirectory = c.logDirectory;
    options.journal = c.journal;
    options.arguments = {QStringLiteral("--no-window")};
    RelayProcess process(options);
    const auto hasLine = [&process](const QString& start) {
      const QStringList lines = process.StandardError().split('\n');
      return std::any_of(lines.begin(), lines.end(),
                         [&start](const QString& line) { return line.startsWith(start); });
    };
    ASSERT_TRUE(process.Start()) << c.what;
    if (c.keepsRunning) {
      ASSERT_TRUE(WaitUntil([&] { return hasLine(c.line); })) << c.what << "\n"
                                                              << process.StandardError();
      // Still serving on the other port; the connection is an activity line.
      EXPECT_TRUE(PortAcceptsConnections(process.options().ldkPort)) << c.what;
      EXPECT_TRUE(WaitUntil([&] { return hasLine(c.journal ? "<6>" : ""); })) << c.what;
      process.Signal(SIGTERM);
    }
    ASSERT_TRUE(process.WaitFinished()) << c.what;
    const QString output = process.StandardError();
    EXPECT_TRUE(hasLine(c.line)) << c.what << "\n" << output;
    if (!c.journal) continue;
    // Every line carries its priority, Qt's own messages included.
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts)) {
      EXPECT_TRUE(line.startsWith("<3>") || line.startsWith("<4>") || line.startsWith("<6>"))
          << c.what << ": " << line;
    }
  }
}

}  // namespace
