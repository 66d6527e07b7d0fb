#include <QApplication>
#include <QFileInfo>
#include <cstdio>

#include "app/appconfig.h"
#include "app/commandline.h"
#include "app/exitcode.h"
#include "app/messagepresenter.h"
#include "app/settingsstore.h"
#include "app/startupcheck.h"
#include "app/tarvexapp.h"
#include "ui/headless.h"

namespace {

// The name the executable runs under: message box caption and settings path.
// Read before any application object exists, as the file the system started.
QString ExecutableName(const char* argv0) {
  const QFileInfo self(QStringLiteral("/proc/self/exe"));
  return QFileInfo(self.exists() ? self.symLinkTarget() : QString::fromLocal8Bit(argv0)).baseName();
}

}  // namespace

int main(int argc, char** argv) {
  // Help, version, mistakes and the check need neither a display nor a window.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  const ParsedCommandLine commandLine = ParseCommandLine(arguments);
  if (commandLine.outcome != ParsedCommandLine::Outcome::Run) {
    const bool failed = commandLine.outcome == ParsedCommandLine::Outcome::Error;
    std::fputs(commandLine.text.toUtf8().constData(), failed ? stderr : stdout);
    return ToInt(failed ? ExitCode::BadCommandLine : ExitCode::Orderly);
  }
  AppConfig config = AppConfig::FromEnvironment(ExecutableName(argv[0]));
  config.settingsFile = commandLine.options.configFile;
  if (commandLine.options.check) {
    const StartupCheck check = RunStartupCheck(*config.OpenSettings(), config.odbcConnection);
    std::fputs(check.report.toUtf8().constData(), stdout);
    return ToInt(check.exitCode);
  }
  if (commandLine.options.noWindow) qputenv("QT_QPA_PLATFORM", "offscreen");

  QApplication application(argc, argv);
  WidgetMessagePresenter widgetPresenter;
  HeadlessMessagePresenter headlessPresenter;
  config.presenter =
      IsHeadless() ? static_cast<MessagePresenter*>(&headlessPresenter) : &widgetPresenter;
  QApplication::setQuitOnLastWindowClosed(false);
  return CTarvexCentrixApp(std::move(config)).Run();
}
