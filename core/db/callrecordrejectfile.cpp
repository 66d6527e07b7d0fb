#include "core/db/callrecordrejectfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>

#include "core/log/logline.h"
#include "core/text/cp949.h"

namespace {

constexpr qsizetype kUnreadableShown = 256;

QByteArray TimeText(const QDateTime& time) {
  return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1();
}

}  // namespace

bool CallRecordRejectFile::AppendRecord(const CallRecord& record, const QByteArray& reason) {
  return AppendLine(TimeText(QDateTime::fromMSecsSinceEpoch(record.callTimeMs)) + ' ' +
                    ToCp949(QStringLiteral("회사코드 ")) + QByteArray::number(record.centerId) +
                    ' ' + RecordFailureLine(record) + " (" + reason + ')');
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
  const int fd = ::open(QFile::encodeName(m_path).constData(),
                        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written =
      ::write(fd, line.constData(), size_t(line.size())) == line.size() && ::fdatasync(fd) == 0;
  ::close(fd);
  return written;
}
