#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <map>
#include <string>

#include "core/relay/clientprotocol.h"
#include "support/postgrescluster.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"

namespace {

class StartupTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    cluster = new PostgresCluster;
    ASSERT_TRUE(cluster->Start()) << cluster->LastError().toStdString();
  }
  static void TearDownTestSuite() {
    delete cluster;
    cluster = nullptr;
  }
  static RelayProcess::Options Options(const QString& instance = {}) {
    RelayProcess::Options options;
    options.odbc = cluster->ConnectionString();
    options.instance = instance;
    return options;
  }

  static PostgresCluster* cluster;
};

PostgresCluster* StartupTest::cluster = nullptr;

TEST_F(StartupTest, SecondCopyReportsTheRunningOneAndEnds) {
  const QString instance = QStringLiteral("tarvex-second-copy-test");
  RelayProcess first(Options(instance));
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(first.WaitListening()) << first.StandardError().toStdString();

  RelayProcess second(Options(instance));
  ASSERT_TRUE(second.Start());
  ASSERT_TRUE(second.WaitFinished());
  EXPECT_TRUE(second.StandardError().contains(QStringLiteral("DALK 서비스가 이미 실행중입니다.")))
      << second.StandardError().toStdString();
  EXPECT_FALSE(PortAcceptsConnections(second.options().ldkPort));
  EXPECT_TRUE(first.IsRunning());
  EXPECT_TRUE(PortAcceptsConnections(first.options().ldkPort));

  // A crashed first copy leaves no marker behind.
  first.Kill();
  ASSERT_TRUE(first.WaitFinished());
  RelayProcess third(Options(instance));
  ASSERT_TRUE(third.Start());
  EXPECT_TRUE(third.WaitListening()) << third.StandardError().toStdString();
}

TEST_F(StartupTest, TerminationSignalsEndTheRelayCleanly) {
  for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
    RelayProcess relay(Options());
    ASSERT_TRUE(relay.Start());
    ASSERT_TRUE(relay.WaitListening()) << relay.StandardError().toStdString();
    const QString logDirectory = relay.options().logDirectory;
    // The log file opens a moment after the ports listen.
    EXPECT_TRUE(
        WaitUntil([&] { return !QDir(logDirectory).entryList({"CID_U_*.txt"}).isEmpty(); }));
    relay.Signal(signalNumber);
    ASSERT_TRUE(relay.WaitFinished());
    EXPECT_EQ(relay.ExitStatus(), QProcess::NormalExit);
    EXPECT_EQ(relay.ExitCode(), 0);
    EXPECT_FALSE(PortAcceptsConnections(relay.options().ldkPort));
  }
}

// Over loopback a send lands in the peer's queue at once: once the relay has
// written the connection line, the greeting must be waiting for the client.
TEST_F(StartupTest, LdkClientGetsTheGreetingBeforeItsConnectionLineIsWritten) {
  const QString connectionLine = QStringLiteral("LDK505로 접속한 클라이언트가 있습니다.");
  RelayProcess relay(Options());
  ASSERT_TRUE(relay.Start());
  ASSERT_TRUE(relay.WaitListening()) << relay.StandardError().toStdString();
  // WaitListening's own probe of the LDK505 port was one connection: its
  // line must be out before the count can stand for this test's clients.
  ASSERT_TRUE(WaitUntil([&] { return relay.StandardError().count(connectionLine) == 1; }));
  const QByteArray greeting = GreetingText();
  for (int client = 0; client < 5; ++client) {
    SCOPED_TRACE(client);
    const qsizetype linesBefore = relay.StandardError().count(connectionLine);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(relay.options().ldkPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_TRUE(
        WaitUntil([&] { return relay.StandardError().count(connectionLine) > linesBefore; }));
    QByteArray waiting(greeting.size() + 64, '\0');
    const ssize_t peeked =
        ::recv(fd, waiting.data(), size_t(waiting.size()), MSG_PEEK | MSG_DONTWAIT);
    EXPECT_EQ(waiting.left(qMax<ssize_t>(peeked, 0)), greeting);
    ::close(fd);
  }
}

// A database that refuses the connection, and one that takes it and never
// answers: either ends start-up with the message, the latter once the login
// time-out has run out.
TEST_F(StartupTest, UnreachableDatabaseEndsBeforeAnyWindow) {
  // The system completes connections to a listening socket nobody accepts on.
  const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(silent, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(silent, 16), 0);
  ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string silentPort = std::to_string(ntohs(address.sin_port));

  const struct {
    const char* name;
    std::string port;
  } cases[] = {{"refused", "1"}, {"never answers", silentPort}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RelayProcess::Options options = Options();
    options.odbc = "DRIVER={PostgreSQL ANSI};SERVER=127.0.0.1;PORT=" + c.port +
                   ";UID=nobody;PWD=x;DATABASE=none;";
    RelayProcess relay(options);
    ASSERT_TRUE(relay.Start());
    ASSERT_TRUE(relay.WaitFinished(60000));
    const QString output = relay.StandardError();
    EXPECT_TRUE(output.contains(QStringLiteral("서버에 접속할수 없습니다.")))
        << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("ConnectDB - SQLSTATE:"))) << output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(relay.options().logDirectory));
    EXPECT_FALSE(PortAcceptsConnections(relay.options().ldkPort));
  }
  ::close(silent);
}

// However it finds itself without a display, the binary runs the core alone:
// no platform plugin loaded, activity journalled on standard error, a clean
// end on SIGTERM.
TEST_F(StartupTest, WithoutADisplayTheCoreRunsAloneWithoutAPlatformPlugin) {
  struct Case {
    const char* name;
    QStringList arguments;
    std::map<QString, QString> environment;
  };
  const Case cases[] = {
      {"ssh: no display at all",
       {},
       {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}},
      {"offscreen asked for", {}, {{"QT_QPA_PLATFORM", "offscreen"}}},
      // A display that does not exist: only the argument keeps Qt away from it.
      {"--no-window", {"--no-window"}, {{"DISPLAY", ":97"}, {"QT_QPA_PLATFORM", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RelayProcess::Options options = Options();
    options.arguments = c.arguments;
    options.environment = c.environment;
    RelayProcess relay(options);
    ASSERT_TRUE(relay.Start());
    ASSERT_TRUE(relay.WaitListening()) << relay.StandardError().toStdString();

    // The activity list goes to the journal.
    TestClient ldk(relay.options().ldkPort);
    ASSERT_TRUE(ldk.WaitForBytes(GreetingText().size()));
    EXPECT_TRUE(relay.WaitForOutput(QStringLiteral("LDK505로 접속한 클라이언트가 있습니다.")));

    QFile maps(QStringLiteral("/proc/%1/maps").arg(relay.ProcessId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    EXPECT_TRUE(mapped.contains("libQt6Core"));
    EXPECT_FALSE(mapped.contains("/platforms/")) << "a platform plugin is loaded";
    EXPECT_FALSE(mapped.contains("libqoffscreen") || mapped.contains("libqxcb") ||
                 mapped.contains("libqwayland"));

    relay.Signal(SIGTERM);
    ASSERT_TRUE(relay.WaitFinished());
    EXPECT_EQ(relay.ExitStatus(), QProcess::NormalExit);
    EXPECT_EQ(relay.ExitCode(), 0) << relay.StandardError().toStdString();
    EXPECT_TRUE(ldk.WaitForPeerClose());
  }
}

}  // namespace
