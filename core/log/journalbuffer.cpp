#include "core/log/journalbuffer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

QByteArray DroppedJournalLinesText(qint64 dropped) {
  return "Dropped " + QByteArray::number(dropped) +
         " journal lines: standard error was not read fast enough.";
}

// A terminal is left as it is: the flag would stay with the shell that
// shares it, and a person reading a terminal does not fall behind for long.
JournalBuffer::JournalBuffer(int fd, QObject* parent)
    : QObject(parent), m_fd(fd), m_flags(::isatty(fd) ? -1 : ::fcntl(fd, F_GETFL)) {
  if (m_flags >= 0) ::fcntl(m_fd, F_SETFL, m_flags | O_NONBLOCK);
}

// Whatever the reader will still take: the end may come because it is stuck.
JournalBuffer::~JournalBuffer() {
  Flush();
  if (m_flags >= 0) ::fcntl(m_fd, F_SETFL, m_flags);
}

void JournalBuffer::Add(JournalPriority priority, QByteArrayView utf8Text) {
  const QByteArray text = JournalText(priority, utf8Text, StandardErrorIsJournal());
  if (m_waiting.size() + text.size() > kMaxWaitingBytes) {
    ++m_dropped;
    return;
  }
  m_waiting += text;
  if (m_flushQueued || IsBehind()) return;
  m_flushQueued = true;
  QMetaObject::invokeMethod(this, &JournalBuffer::Flush, Qt::QueuedConnection);
}

void JournalBuffer::Flush() {
  m_flushQueued = false;
  if (!IsBehind()) WriteWaiting();
}

bool JournalBuffer::IsBehind() const { return m_writable && m_writable->isEnabled(); }

void JournalBuffer::WriteWaiting() {
  if (m_beforeWrite && !m_waiting.isEmpty()) m_beforeWrite();
  while (!m_waiting.isEmpty()) {
    const ssize_t written = ::write(m_fd, m_waiting.constData(), size_t(m_waiting.size()));
    if (written > 0) {
      m_waiting.remove(0, written);
      if (m_waiting.isEmpty() && m_dropped > 0) {
        m_waiting = JournalText(JournalPriority::Warning, DroppedJournalLinesText(m_dropped),
                                StandardErrorIsJournal());
        m_dropped = 0;
      }
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      // The reader is behind: go on when it has made room.
      if (!m_writable) {
        m_writable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
        connect(m_writable.get(), &QSocketNotifier::activated, this, &JournalBuffer::WriteWaiting);
      }
      m_writable->setEnabled(true);
      return;
    }
    // Nobody reads at all (closed, broken): nothing waits for it.
    m_waiting.clear();
    break;
  }
  if (m_writable) m_writable->setEnabled(false);
}
