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
  const QString missing = QStringLiteral("/nonexistent/tarvex.conf");
  enum Where { Alone, BesideAnotherCopy };
  struct Case {
    QStringList arguments;
    std::string odbc;  // empty: the test cluster
    Where where;
    ExitCode exitCode;
    QString output;  // on standard output or standard error
  };
  // clang-format off
  const Case cases[] = {
      {{"--help"},                       {},                   Alone, ExitCode::Orderly,
       "Usage: Tarvex [options]"},
      {{"--version"},                    {},                   Alone, ExitCode::Orderly,
       "Tarvex 1."},
      {{"--bogus"},                      {},                   Alone, ExitCode::BadCommandLine,
       "Tarvex: Unknown option 'bogus'."},
      {{"--config"},                     {},                   Alone, ExitCode::BadCommandLine,
       "Missing value after '--config'"},
      {{"start"},                        {},                   Alone, ExitCode::BadCommandLine,
       "unexpected argument 'start'"},
      {{},                               {},                   BesideAnotherCopy,
       ExitCode::AlreadyRunning,         "DALK 서비스가 이미 실행중입니다."},
      {{},                               kUnreachableDatabase, Alone,
       ExitCode::DatabaseUnreachable,    "서버에 접속할수 없습니다."},
      {{"--config", missing},            {},                   Alone,
       ExitCode::SettingsUnreadable,     missing},
      {{"--check"},                      {},                   Alone, ExitCode::Orderly,
       "Call database: connected"},
      {{"--check"},                      {},                   BesideAnotherCopy, ExitCode::Orderly,
       "Call database: connected"},
      {{"--check"},                      kUnreachableDatabase, Alone,
       ExitCode::DatabaseUnreachable,    "Call database: cannot connect"},
      {{"--check", "--config", missing}, {},                   Alone,
       ExitCode::SettingsUnreadable,     missing + ": cannot be read"},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::unique_ptr<RelayProcess> first;
    RelayProcess::Options options;
    options.odbc = c.odbc.empty() ? cluster->ConnectionString() : c.odbc;
    options.instance = QStringLiteral("tarvex-exit-code-test");
    options.arguments = c.arguments;
    const QString what = c.arguments.join(' ') + QStringLiteral(" -> ") + c.output;
    if (c.where == BesideAnotherCopy) {
      RelayProcess::Options running = options;
      running.arguments.clear();
      first = std::make_unique<RelayProcess>(running);
      ASSERT_TRUE(first->Start());
      ASSERT_TRUE(first->WaitListening()) << first->StandardError();
    }
    RelayProcess relay(options);
    ASSERT_TRUE(relay.Start()) << what;
    ASSERT_TRUE(relay.WaitFinished(60000)) << what;
    EXPECT_EQ(relay.ExitStatus(), QProcess::NormalExit) << what;
    EXPECT_EQ(relay.ExitCode(), ToInt(c.exitCode)) << what << "\n" << relay.StandardError();
    EXPECT_TRUE((relay.StandardOutput() + relay.StandardError()).contains(c.output))
        << what << "\n"
        << relay.StandardOutput() << relay.StandardError();
    // None of them got as far as the ports or the log.
    EXPECT_FALSE(PortAcceptsConnections(relay.options().ldkPort)) << what;
    EXPECT_FALSE(QFileInfo::exists(relay.options().logDirectory)) << what;
  }
}

}  // namespace
