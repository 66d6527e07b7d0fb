#include "core/log/privatefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

#include "core/log/journalstream.h"

namespace {

int OpenRetrying(const QByteArray& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.constData(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

QByteArray OctalMode(mode_t mode) {
  return QByteArray::number(uint(mode & 07777), 8).rightJustified(4, '0');
}

void Narrow(int fd, mode_t mode, const QString& path) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return;
  const mode_t wider = status.st_mode & 07777 & ~mode;
  if (wider == 0) return;
  const mode_t narrowed = status.st_mode & 07777 & mode;
  if (::fchmod(fd, narrowed) != 0) return;
  WriteJournalLine(JournalPriority::Warning, path.toUtf8() + ": permissions narrowed from " +
                                                 OctalMode(status.st_mode) + " to " +
                                                 OctalMode(narrowed));
}

}  // namespace

int OpenPrivateFile(const QString& path, int flags, mode_t mode) {
  const QByteArray name = QFile::encodeName(path);
  // Create-or-open in two steps: only a file made here is set to the exact mode.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int created = OpenRetrying(name, flags | O_CREAT | O_EXCL, mode);
    if (created >= 0) {
      ::fchmod(created, mode);
      return created;
    }
    if (errno != EEXIST) return -1;
    const int existing = OpenRetrying(name, flags & ~O_TRUNC, 0);
    if (existing >= 0) {
      Narrow(existing, mode, path);
      // Truncated only after the mode allows no one else in.
      if ((flags & O_TRUNC) && ::ftruncate(existing, 0) != 0) {
        const int error = errno;
        ::close(existing);
        errno = error;
        return -1;
      }
      return existing;
    }
    if (errno != ENOENT) return -1;  // removed in between: create it after all
  }
  return -1;
}

bool MakePrivateDirectory(const QString& path, mode_t mode) {
  const bool existed = QFileInfo(path).isDir();
  if (!QDir().mkpath(path)) return false;
  return existed || ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}
