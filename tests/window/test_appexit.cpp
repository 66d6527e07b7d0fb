// The application object's exit status for a core that cannot start, with
// the window and without: a service manager must see the failure.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/exitcode.h"
#include "app/tarvexapp.h"
#include "support/clustertest.h"
#include "support/qtprint.h"
#include "support/testcore.h"

namespace {

using AppExitTest = ClusterTest;

TEST_F(AppExitTest, TelephonyControlsThatCannotBeCreatedEndTheRunWithTheirOwnStatus) {
  struct Case {
    RunMode mode;
    TelControlFactory factory;
    ExitCode exitCode;
  };
  const Case cases[] = {
      {RunMode::Headless, [](int) { return std::unique_ptr<CTelBaseOpenApi>(); },
       ExitCode::TelephonyControlsNotCreated},
      {RunMode::Window, [](int) { return std::unique_ptr<CTelBaseOpenApi>(); },
       ExitCode::TelephonyControlsNotCreated},
      // The last of the 60 missing is as fatal as the first.
      {RunMode::Headless,
       [idle = IdleTelControlFactory()](int id) {
         return id == kFirstTelControlId + kTelControlCount - 1 ? nullptr : idle(id);
       },
       ExitCode::TelephonyControlsNotCreated},
  };
  for (const Case& c : cases) {
    QTemporaryDir directory;
    const QString settingsFile = directory.filePath(QStringLiteral("tarvex.conf"));
    QFile file(settingsFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[SETTING]\nUID1=agent1\nPWD1=secret\n");
    file.close();

    ScriptedPresenter presenter;
    AppConfig config;
    config.applicationName = QStringLiteral("Tarvex");
    config.settingsFile = settingsFile;
    config.instanceName = QStringLiteral("tarvex-app-exit-test");
    config.odbcConnection = cluster->ConnectionString();
    config.logDirectory = directory.filePath(QStringLiteral("log"));
    config.extPort = FreeTcpPort();
    config.ldkPort = FreeTcpPort();
    config.telControlFactory = c.factory;
    config.presenter = &presenter;
    EXPECT_EQ(CTarvexCentrixApp(std::move(config), c.mode).Run(), ToInt(c.exitCode)) << int(c.mode);
    EXPECT_TRUE(presenter.shown.empty()) << int(c.mode);
  }
}

}  // namespace
