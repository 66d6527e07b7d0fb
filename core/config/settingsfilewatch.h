#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

// Tells when another process changed a settings file, also when it was
// replaced by a rename (which a watch on the file alone misses).
class SettingsFileWatch : public QObject {
  Q_OBJECT
 public:
  explicit SettingsFileWatch(QObject* parent = nullptr);
  void Watch(const QString& file);

 signals:
  void Changed();

 private:
  QFileSystemWatcher m_watcher;
  QString m_file;
};
