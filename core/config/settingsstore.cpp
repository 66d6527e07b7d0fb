#include "core/config/settingsstore.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFileInfo>
#include <limits>

#include "core/log/privatefile.h"
#include "core/text/cp949.h"

namespace {
const char kSection[] = "SETTING";
// Accounts' passwords: the user's own only.
constexpr mode_t kPerUserFileMode = 0600;
constexpr mode_t kPerUserDirectoryMode = 0700;
}  // namespace

SettingsStore::SettingsStore(const QString& organization, const QString& application)
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, organization, application),
      m_bFileRequired(false) {
  m_settings.beginGroup(kSection);
}

SettingsStore::SettingsStore(const QString& iniFile)
    : m_settings(iniFile, QSettings::IniFormat), m_bFileRequired(true) {
  m_settings.beginGroup(kSection);
}

bool SettingsStore::IsReadable() const {
  if (m_settings.status() != QSettings::NoError) return false;
  const QFileInfo file(m_settings.fileName());
  return !m_bFileRequired || (file.isFile() && file.isReadable());
}

// The key as it stands in the store, whatever its letter case, or the
// upper-case form when it is not there yet.
QString SettingsStore::StoredKey(const QString& name) {
  const QStringList keys = m_settings.childKeys();
  for (const QString& key : keys) {
    if (key.compare(name, Qt::CaseInsensitive) == 0) return key;
  }
  return name.toUpper();
}

qint32 SettingsStore::GetProfileInt(const QString& name, qint32 def) {
  const QVariant value = m_settings.value(StoredKey(name));
  if (!value.isValid()) return def;
  bool ok = false;
  const qlonglong number = value.toLongLong(&ok);
  if (!ok || number < std::numeric_limits<qint32>::min() ||
      number > std::numeric_limits<qint32>::max()) {
    return def;
  }
  return qint32(number);
}

QByteArray SettingsStore::GetProfileString(const QString& name, const QByteArray& def) {
  const QVariant value = m_settings.value(StoredKey(name));
  if (!value.isValid()) return def;
  // An INI file reads a value with commas in it as a list, which as one
  // text would be empty.
  if (value.typeId() == QMetaType::QStringList) return ToCp949(value.toStringList().join(u','));
  return ToCp949(value.toString());
}

QStringList SettingsStore::NamesStartingWith(const QString& prefix) const {
  QStringList names = m_settings.childKeys();
  names.removeIf([&](const QString& key) { return !key.startsWith(prefix, Qt::CaseInsensitive); });
  return names;
}

void SettingsStore::WriteProfileInt(const QString& name, qint32 value) { Write(name, value); }

void SettingsStore::WriteProfileString(const QString& name, const QByteArray& value) {
  Write(name, FromCp949(value));
}

// Qt's atomic rewrite keeps the mode of the file it replaces, so the file is
// made (or narrowed) before the first write, not left to the umask.
void SettingsStore::MakePerUserFilePrivate() {
  if (m_bFileRequired || m_filePrivate) return;
  const QString path = m_settings.fileName();
  MakePrivateDirectory(QFileInfo(path).absolutePath(), kPerUserDirectoryMode);
  const int fd = OpenPrivateFile(path, O_WRONLY | O_CLOEXEC, kPerUserFileMode);
  if (fd < 0) return;
  ::close(fd);
  m_filePrivate = true;
}

void SettingsStore::Write(const QString& name, const QVariant& value) {
  MakePerUserFilePrivate();
  const QString stored = StoredKey(name);
  if (stored != name.toUpper()) m_settings.remove(stored);
  m_settings.setValue(name.toUpper(), value);
  m_settings.sync();
}
