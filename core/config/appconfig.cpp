#include "core/config/appconfig.h"

#include <QStandardPaths>
#include <QtGlobal>

#include "core/config/settingsstore.h"
#include "core/db/calldatabase.h"
#include "core/telephony/networktelcontrol.h"

namespace {

#ifdef Q_OS_WIN
const char kLogDirectory[] = "C:\\CIDLog";
#else
const char kLogDirectory[] = "/var/log/CIDLog";
#endif

quint16 PortFromEnvironment(const char* name, quint16 def) {
  bool ok = false;
  const int port = qEnvironmentVariableIntValue(name, &ok);
  return ok && port > 0 && port <= 65535 ? quint16(port) : def;
}

}  // namespace

AppConfig AppConfig::FromEnvironment(const QString& applicationName) {
  AppConfig config;
  config.applicationName = applicationName;
  config.odbcConnection = qEnvironmentVariableIsSet("TARVEX_ODBC")
                              ? qgetenv("TARVEX_ODBC").toStdString()
                              : DefaultConnectionString();
  config.logDirectory = qEnvironmentVariableIsSet("TARVEX_LOG_DIR")
                            ? qEnvironmentVariable("TARVEX_LOG_DIR")
                            : QString::fromLatin1(kLogDirectory);
  config.stateDirectory =
      qEnvironmentVariableIsSet("TARVEX_STATE_DIR")
          ? qEnvironmentVariable("TARVEX_STATE_DIR")
          : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                QStringLiteral("/tarvex");
  config.extPort = PortFromEnvironment("TARVEX_EXT_PORT", config.extPort);
  config.ldkPort = PortFromEnvironment("TARVEX_LDK_PORT", config.ldkPort);
  config.telPort = PortFromEnvironment("TARVEX_TEL_PORT", config.telPort);
  // 0 turns the browser feed off.
  config.feedPort = qEnvironmentVariable("TARVEX_FEED_PORT") == QLatin1String("0")
                        ? 0
                        : PortFromEnvironment("TARVEX_FEED_PORT", config.feedPort);
  if (qEnvironmentVariableIsSet("TARVEX_INSTANCE")) {
    config.instanceName = qEnvironmentVariable("TARVEX_INSTANCE");
  }
  config.telControlFactory = NetworkTelControlFactory(config.telPort);
  return config;
}

std::unique_ptr<SettingsStore> AppConfig::OpenSettings() const {
  return settingsFile.isEmpty()
             ? std::make_unique<SettingsStore>(settingsOrganization, applicationName)
             : std::make_unique<SettingsStore>(settingsFile);
}
