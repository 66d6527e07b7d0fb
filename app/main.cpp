#include <QApplication>
#include <QFileInfo>
#include <cstdio>

#include "app/appconfig.h"
#include "app/commandline.h"
#include "app/exitcode.h"
#include "app/messagepresenter.h"
#include "app/tarvexapp.h"
#include "ui/headless.h"

int main(int argc, char** argv) {
  // Help, version and mistakes need neither a display nor the database.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  const ParsedCommandLine commandLine = ParseCommandLine(arguments);
  if (commandLine.outcome != ParsedCommandLine::Outcome::Run) {
    const bool failed = commandLine.outcome == ParsedCommandLine::Outcome::Error;
    std::fputs(commandLine.text.toUtf8().constData(), failed ? stderr : stdout);
    return ToInt(failed ? ExitCode::BadCommandLine : ExitCode::Orderly);
  }

  QApplication application(argc, argv);
  // The name the executable runs under: message box caption and settings path.
  const QString applicationName = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
  WidgetMessagePresenter widgetPresenter;
  HeadlessMessagePresenter headlessPresenter;

  AppConfig config = AppConfig::FromEnvironment(applicationName);
  config.presenter =
      IsHeadless() ? static_cast<MessagePresenter*>(&headlessPresenter) : &widgetPresenter;
  QApplication::setQuitOnLastWindowClosed(false);
  return CTarvexCentrixApp(std::move(config)).Run();
}
