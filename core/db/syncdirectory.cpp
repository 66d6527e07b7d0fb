#include "core/db/syncdirectory.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>

bool SyncDirectory(const QString& directory) {
  const int fd =
      ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}
