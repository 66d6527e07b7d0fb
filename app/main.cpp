#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>

#include "app/appconfig.h"
#include "app/messagepresenter.h"
#include "app/tarvexapp.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The name the executable runs under: message box caption and settings path.
  const QString applicationName = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
  const QString platform = QGuiApplication::platformName();
  const bool headless =
      platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
  WidgetMessagePresenter widgetPresenter;
  HeadlessMessagePresenter headlessPresenter;

  AppConfig config = AppConfig::FromEnvironment(applicationName);
  config.presenter =
      headless ? static_cast<MessagePresenter*>(&headlessPresenter) : &widgetPresenter;
  QApplication::setQuitOnLastWindowClosed(false);
  return CTarvexCentrixApp(std::move(config)).Run();
}
