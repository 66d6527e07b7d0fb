#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>

// The per-user settings, section "SETTING". Names are matched without regard
// to case; strings are CP949 inside and stored as text.
class SettingsStore {
 public:
  SettingsStore(const QString& organization, const QString& application);

  // The stored number, or def when missing or not a 32-bit number.
  qint32 GetProfileInt(const QString& name, qint32 def);
  void WriteProfileInt(const QString& name, qint32 value);
  QByteArray GetProfileString(const QString& name, const QByteArray& def);
  void WriteProfileString(const QString& name, const QByteArray& value);

 private:
  QString StoredKey(const QString& name);
  void Write(const QString& name, const QVariant& value);

  QSettings m_settings;
};
