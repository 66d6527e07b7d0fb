// The real binary without a display: however it finds itself without one,
// it runs the core alone, loads no platform plugin, journals its activity on
// standard error and ends cleanly on SIGTERM.
#include <gtest/gtest.h>

#include <QFile>
#include <csignal>

#include "core/relay/clientprotocol.h"
#include "support/postgrescluster.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"

namespace {

class HeadlessTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    cluster = new PostgresCluster;
    ASSERT_TRUE(cluster->Start()) << cluster->LastError().toStdString();
  }
  static void TearDownTestSuite() {
    delete cluster;
    cluster = nullptr;
  }
  static PostgresCluster* cluster;
};

PostgresCluster* HeadlessTest::cluster = nullptr;

TEST_F(HeadlessTest, WithoutADisplayTheCoreRunsAloneWithoutAPlatformPlugin) {
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
    RelayProcess::Options options;
    options.odbc = cluster->ConnectionString();
    options.arguments = c.arguments;
    options.displayEnvironment = true;
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
