#include <QApplication>
#include <QFileInfo>

#include "app/appconfig.h"
#include "app/descriptorlimit.h"
#include "app/messagepresenter.h"
#include "app/tarvexapp.h"
#include "ui/headless.h"

int main(int argc, char** argv) {
  RaiseDescriptorLimit();
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
