#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>

#include "core/config/settingkeys.h"

// The per-user settings, section "SETTING", or the same section of an INI
// file an administrator keeps (a service has no user profile to speak of).
// Names are matched without regard to case; strings are CP949 inside and
// stored as text.
class SettingsStore {
 public:
  SettingsStore(const QString& organization, const QString& application);
  explicit SettingsStore(const QString& iniFile);

  // False when the store cannot be read: a settings file that is missing,
  // not readable or malformed. The per-user store may be missing: its
  // values then take their defaults.
  bool IsReadable() const;
  // Where the values are kept, for reports.
  QString Location() const { return m_settings.fileName(); }

  // The stored number, or def when missing or not a 32-bit number.
  qint32 GetProfileInt(const QString& name, qint32 def);
  void WriteProfileInt(const QString& name, qint32 value);
  qint32 GetProfileInt(const IntSetting& setting) {
    return GetProfileInt(QLatin1String(setting.name), setting.defaultValue);
  }
  void WriteProfileInt(const IntSetting& setting, qint32 value) {
    WriteProfileInt(QLatin1String(setting.name), value);
  }
  QByteArray GetProfileString(const QString& name, const QByteArray& def);
  QByteArray GetProfileString(const TextSetting& setting) {
    return GetProfileString(QLatin1String(setting.name), setting.defaultValue);
  }
  // The names kept under SETTING that start with prefix (any letter case).
  QStringList NamesStartingWith(const QString& prefix) const;
  // What another process wrote to the file since it was read.
  void Reread() { m_settings.sync(); }
  void WriteProfileString(const QString& name, const QByteArray& value);
  // The per-user file, made (or narrowed) private before anything is
  // written to it; a settings file given by path is left as it is.
  void MakePerUserFilePrivate();

 private:
  QString StoredKey(const QString& name);
  void Write(const QString& name, const QVariant& value);

  QSettings m_settings;
  bool m_bFileRequired;
  bool m_filePrivate = false;
};
