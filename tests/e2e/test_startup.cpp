#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <csignal>

#include "support/postgrescluster.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"

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

TEST_F(StartupTest, UnreachableDatabaseEndsBeforeAnyWindow) {
  RelayProcess::Options options = Options();
  options.odbc = "DRIVER={PostgreSQL ANSI};SERVER=127.0.0.1;PORT=1;UID=nobody;PWD=x;DATABASE=none;";
  RelayProcess relay(options);
  ASSERT_TRUE(relay.Start());
  ASSERT_TRUE(relay.WaitFinished(60000));
  const QString output = relay.StandardError();
  EXPECT_TRUE(output.contains(QStringLiteral("서버에 접속할수 없습니다."))) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("ConnectDB - SQLSTATE:"))) << output.toStdString();
  EXPECT_FALSE(QFileInfo::exists(relay.options().logDirectory));
  EXPECT_FALSE(PortAcceptsConnections(relay.options().ldkPort));
}

}  // namespace
