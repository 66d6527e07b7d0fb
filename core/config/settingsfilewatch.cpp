#include "core/config/settingsfilewatch.h"

#include <QFileInfo>

SettingsFileWatch::SettingsFileWatch(QObject* parent) : QObject(parent) {
  const auto changed = [this] {
    // A file replaced by a rename is no longer watched: the directory tells.
    if (!m_watcher.files().contains(m_file)) m_watcher.addPath(m_file);
    emit Changed();
  };
  connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, changed);
  connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, changed);
}

void SettingsFileWatch::Watch(const QString& file) {
  if (m_watcher.files().contains(file)) return;
  m_file = file;
  m_watcher.addPath(file);
  m_watcher.addPath(QFileInfo(file).absolutePath());
}
