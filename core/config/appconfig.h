#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "core/config/localclock.h"
#include "core/telephony/telbaseopenapi.h"
#include "core/telephony/telprotocol.h"

class MessagePresenter;
class SettingsStore;

// What differs between production and a test run; production takes the
// fixed values, overridable through TARVEX_* environment variables.
struct AppConfig {
  QString applicationName;  // executable base name: caption and settings path
  QString settingsOrganization = QStringLiteral("MERVO");
  QString settingsFile;  // an INI file instead of the per-user store, when not empty
  QString instanceName = QStringLiteral("Global\\DALK");
  std::string odbcConnection;
  QString logDirectory;
  QString stateDirectory;  // the call-record spool and reject file
  quint16 extPort = 8688;
  quint16 ldkPort = 5100;
  quint16 feedPort = 8690;  // the browser feed; 0: none
  quint16 telPort = kDefaultTelephonyPort;
  TelControlFactory telControlFactory;
  MessagePresenter* presenter = nullptr;
  std::function<QDateTime()> clock = LocalNow;

  // Fixed values with the environment's overrides; the stand-in control factory.
  static AppConfig FromEnvironment(const QString& applicationName);

  std::unique_ptr<SettingsStore> OpenSettings() const;
};
