// How each start of the real binary ends: the exit status a service manager
// or a script sees, and what the relay says about it.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <memory>

#include "app/exitcode.h"
#include "support/clustertest.h"
#include "support/qtprint.h"
#include "support/relayprocess.h"

namespace {

const std::string kUnreachableDatabase =
    "DRIVER={PostgreSQL ANSI};SERVER=127.0.0.1;PORT=1;UID=nobody;PWD=x;DATABASE=none;";

using ExitCodeTest = ClusterTest;

TEST_F(ExitCodeTest, EachWayOfEndingHasItsOwnStatus) {
  const QString instance = QStringLiteral("tarvex-exit-code-test");
  const QStringList noDisplay{"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
  struct Case {
    const char* what;
    QStringList arguments;
    QStringList unsetVariables;
    std::string odbc;  // empty: the test cluster
    bool anotherCopyRuns;
    ExitCode exitCode;
    QString output;  // on standard output or standard error
  };
  const Case cases[] = {
      {"help without a display",
       {"--help"},
       noDisplay,
       {},
       false,
       ExitCode::Orderly,
       "Usage: Tarvex [options]"},
      {"version without a display",
       {"--version"},
       noDisplay,
       {},
       false,
       ExitCode::Orderly,
       "Tarvex 1."},
      {"unknown option",
       {"--bogus"},
       {},
       {},
       false,
       ExitCode::BadCommandLine,
       "Tarvex: Unknown option 'bogus'."},
      {"option without its value",
       {"--config"},
       {},
       {},
       false,
       ExitCode::BadCommandLine,
       "Missing value after '--config'"},
      {"stray argument",
       {"start"},
       {},
       {},
       false,
       ExitCode::BadCommandLine,
       "unexpected argument 'start'"},
      {"another copy runs",
       {},
       {},
       {},
       true,
       ExitCode::AlreadyRunning,
       "DALK 서비스가 이미 실행중입니다."},
      {"database unreachable",
       {},
       {},
       kUnreachableDatabase,
       false,
       ExitCode::DatabaseUnreachable,
       "서버에 접속할수 없습니다."},
  };
  for (const Case& c : cases) {
    std::unique_ptr<RelayProcess> first;
    RelayProcess::Options options;
    options.odbc = c.odbc.empty() ? cluster->ConnectionString() : c.odbc;
    options.instance = instance;
    options.arguments = c.arguments;
    options.unsetVariables = c.unsetVariables;
    if (c.anotherCopyRuns) {
      first = std::make_unique<RelayProcess>(options);
      ASSERT_TRUE(first->Start()) << c.what;
      ASSERT_TRUE(first->WaitListening()) << c.what << first->StandardError();
    }
    RelayProcess relay(options);
    ASSERT_TRUE(relay.Start()) << c.what;
    ASSERT_TRUE(relay.WaitFinished(60000)) << c.what;
    EXPECT_EQ(relay.ExitStatus(), QProcess::NormalExit) << c.what;
    EXPECT_EQ(relay.ExitCode(), ToInt(c.exitCode)) << c.what << relay.StandardError();
    EXPECT_TRUE((relay.StandardOutput() + relay.StandardError()).contains(c.output))
        << c.what << ": " << relay.StandardOutput() << relay.StandardError();
    // None of them got as far as the ports or the log.
    EXPECT_FALSE(PortAcceptsConnections(relay.options().ldkPort)) << c.what;
    EXPECT_FALSE(QFileInfo::exists(relay.options().logDirectory)) << c.what;
  }
}

}  // namespace
