#include "core/webhook/webhookrejectfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>

#include "core/log/privatefile.h"

namespace {
// Callers' numbers: the relay's user only.
constexpr mode_t kFileMode = 0600;
}  // namespace

bool WebhookRejectFile::Append(const QString& hook, const QByteArray& eventId,
                               const QString& reason, const QByteArray& body) {
  if (m_path.isEmpty()) return false;
  // The reason is a peer's or Qt's text: one line, whatever it holds.
  const QByteArray line =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() + ' ' +
      hook.toUtf8() + ' ' + eventId + " (" + reason.simplified().toUtf8() + ") " + body + '\n';
  const int fd = OpenPrivateFile(m_path, O_WRONLY | O_APPEND | O_CLOEXEC, kFileMode);
  if (fd < 0) return false;
  const bool written =
      ::write(fd, line.constData(), size_t(line.size())) == line.size() && ::fdatasync(fd) == 0;
  ::close(fd);
  return written;
}
