#include "core/db/callrecordrejectfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "core/db/syncdirectory.h"
#include "core/log/logline.h"
#include "core/log/privatefile.h"
#include "core/text/cp949.h"

namespace {

constexpr qsizetype kUnreadableShown = 256;
// Callers' numbers: the relay's user only.
constexpr mode_t kFileMode = 0600;
constexpr char kRecordMark[] = " TVXR:";
// About 16,000 lines of records.
constexpr qsizetype kMostHeldBytes = 4 * 1024 * 1024;

QByteArray TimeText(const QDateTime& time) {
  return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
}

bool WriteSynced(const QString& path, int flags, const QByteArray& bytes) {
  const int fd = OpenPrivateFile(path, O_WRONLY | O_CLOEXEC | flags, kFileMode);
  if (fd < 0) return false;
  const bool written =
      ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() && ::fdatasync(fd) == 0;
  ::close(fd);
  return written;
}

}  // namespace

bool CallRecordRejectFile::AppendRecord(const CallRecord& record, const QByteArray& reason) {
  return AppendLine(TimeText(QDateTime::fromMSecsSinceEpoch(record.callTimeMs)) + ' ' +
                    ToCp949(QStringLiteral("회사코드 ")) + QByteArray::number(record.centerId) +
                    ' ' + RecordFailureLine(record) + " (" + reason + ')' + kRecordMark +
                    EncodeCallRecord(record).toHex());
}

bool CallRecordRejectFile::AppendUnreadable(const QByteArray& bytes) {
  return AppendLine(TimeText(QDateTime::currentDateTime()) + ' ' +
                    ToCp949(QStringLiteral("읽을 수 없는 기록 %1바이트: ").arg(bytes.size())) +
                    bytes.first(std::min(bytes.size(), kUnreadableShown)).toHex(' '));
}

bool CallRecordRejectFile::AppendLine(const QByteArray& cp949) {
  // Control bytes in a value are escaped, so that one record stays one line.
  const QByteArray line = JournalLine(cp949) + '\n';
  std::lock_guard lock(m_mutex);
  // What waits goes first, and makes room if the disk takes it again.
  WriteHeldLocked();
  // Past the bound the record shows only in the activity list.
  if (m_held.size() + line.size() > kMostHeldBytes) return false;
  m_held += line;
  return WriteHeldLocked();
}

bool CallRecordRejectFile::WriteHeldLocked() {
  if (m_held.isEmpty()) {
    m_diskError.clear();
    return true;
  }
  const int fd = OpenPrivateFile(m_path, O_WRONLY | O_APPEND | O_CLOEXEC, kFileMode);
  bool written = fd >= 0;
  while (written && !m_held.isEmpty()) {
    const ssize_t n = ::write(fd, m_held.constData(), size_t(m_held.size()));
    written = n > 0;
    if (written) m_held.remove(0, n);
  }
  // A failed sync leaves it unknown, not undone: the lines are not written twice.
  written = written && ::fdatasync(fd) == 0;
  if (!written) {
    m_diskError = QStringLiteral("cannot write %1: %2")
                      .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
  } else {
    m_diskError.clear();
  }
  if (fd >= 0) ::close(fd);
  return written && m_held.isEmpty();
}

bool CallRecordRejectFile::Retry() {
  std::lock_guard lock(m_mutex);
  return WriteHeldLocked();
}

qint64 CallRecordRejectFile::HeldLines() const {
  std::lock_guard lock(m_mutex);
  return m_held.count('\n');
}

QString CallRecordRejectFile::DiskError() const {
  std::lock_guard lock(m_mutex);
  return m_diskError;
}

std::optional<CallRecord> CallRecordRejectFile::RecordOf(const QByteArray& line) {
  const qsizetype mark = line.lastIndexOf(kRecordMark);
  if (mark < 0) return std::nullopt;
  const QByteArray hex = line.sliced(mark + qsizetype(sizeof kRecordMark) - 1);
  const QByteArray bytes = QByteArray::fromHex(hex);
  // fromHex skips what is not hex: the text must be exactly the bytes.
  if (bytes.toHex() != hex) return std::nullopt;
  return DecodeCallRecord(bytes);
}

std::optional<QList<QByteArray>> CallRecordRejectFile::ReadLines() {
  std::lock_guard lock(m_mutex);
  QFile file(m_path);
  if (!file.exists()) return QList<QByteArray>();
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QList<QByteArray> lines = file.readAll().split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

bool CallRecordRejectFile::ReplaceLines(const QList<QByteArray>& lines) {
  QByteArray contents;
  for (const QByteArray& line : lines) contents += line + '\n';
  const QString temporary = m_path + QStringLiteral(".new");
  std::lock_guard lock(m_mutex);
  if (!WriteSynced(temporary, O_TRUNC, contents) ||
      ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(m_path).constData()) !=
          0) {
    return false;
  }
  return SyncDirectory(QFileInfo(m_path).absolutePath());
}
