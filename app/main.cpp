#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>

#include "app/runmode.h"
#include "app/tarvexapp.h"
#include "core/config/appconfig.h"
#include "core/config/descriptorlimit.h"
#include "core/config/messagepresenter.h"
#include "ui/widgetmessagepresenter.h"

namespace {

// The application object of kind Application, then the program under it.
template <typename Application, typename Presenter>
int RunUnder(int argc, char** argv, RunMode mode) {
  Application application(argc, argv);
  // The name the executable runs under: message box caption and settings path.
  const QString applicationName = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
  Presenter presenter;
  AppConfig config = AppConfig::FromEnvironment(applicationName);
  config.presenter = &presenter;
  return CTarvexCentrixApp(std::move(config), mode).Run();
}

}  // namespace

int main(int argc, char** argv) {
  RaiseDescriptorLimit();
  if (RunsHeadless(argc, argv, [](const char* name) { return qgetenv(name); })) {
    return RunUnder<QCoreApplication, HeadlessMessagePresenter>(argc, argv, RunMode::Headless);
  }
  QApplication::setQuitOnLastWindowClosed(false);
  return RunUnder<QApplication, WidgetMessagePresenter>(argc, argv, RunMode::Window);
}
