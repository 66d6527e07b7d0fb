#include "core/log/dailylogfile.h"

#include "core/log/logline.h"
#include "core/log/privatefile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>

namespace {

// The relay and its group only.
constexpr mode_t kDirectoryMode = 0750;
constexpr mode_t kFileMode = 0640;

}  // namespace

DailyLogFile::DailyLogFile(QString directory) : m_directory(std::move(directory)) {}

DailyLogFile::~DailyLogFile() { Close(); }

void DailyLogFile::OpenAtStartup(const QDate& today) {
  const QByteArray directory = QFile::encodeName(m_directory);
  struct stat attributes;
  // One level only; a failure shows when opening. The mode is set, not left to
  // the umask: the files in it hold callers' numbers.
  if (::stat(directory.constData(), &attributes) != 0 &&
      ::mkdir(directory.constData(), kDirectoryMode) == 0) {
    ::chmod(directory.constData(), kDirectoryMode);
  }
  Switch(StartupLogFileName(m_directory, today));
}

void DailyLogFile::CheckLogFileDate(const QDate& today) {
  const QString name = HourlyLogFileName(m_directory, today);
  if (name != m_strLogFileName) Switch(name);
}

void DailyLogFile::AppendLogLine(const QDateTime& now, const QByteArray& text) {
  if (IsOpen()) Write(FormatLogEntry(now, text));
}

void DailyLogFile::Close() {
  if (!IsOpen()) return;
  ::close(m_fd);  // also releases the lock
  m_fd = -1;
}

// Each opening is marked in the file by a separator line.
void DailyLogFile::Switch(const QString& fileName) {
  m_strLogFileName = fileName;
  OpenAtEnd();
  if (IsOpen()) Write(LogSeparatorLine());
}

// Appends to an existing file or creates it. The exclusive lock stands in for
// opening without sharing: a second copy of the program gets no file.
void DailyLogFile::OpenAtEnd() {
  Close();
  const int fd = OpenPrivateFile(m_strLogFileName, O_WRONLY | O_APPEND | O_CLOEXEC, kFileMode);
  if (fd < 0) return;
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    ::close(fd);
    return;
  }
  m_fd = fd;
}

// A failed write ends this line only; the file stays open for the next one.
void DailyLogFile::Write(const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(m_fd, data, static_cast<size_t>(left));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    data += written;
    left -= written;
  }
}
