#include "support/notifysocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "support/qtwait.h"

NotifySocket::NotifySocket() : m_path(m_dir.filePath(QStringLiteral("notify"))) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray path = m_path.toLocal8Bit();
  if (size_t(path.size()) >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
  m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

NotifySocket::~NotifySocket() {
  if (m_fd >= 0) ::close(m_fd);
}

const QList<QByteArray>& NotifySocket::Messages() {
  char buffer[4096];
  ssize_t got = 0;
  while (m_fd >= 0 && (got = ::recv(m_fd, buffer, sizeof buffer, 0)) >= 0) {
    m_messages.append(QByteArray(buffer, got));
  }
  return m_messages;
}

QList<QByteArray> NotifySocket::MessagesStartingWith(const QByteArray& prefix) {
  QList<QByteArray> texts;
  for (const QByteArray& message : Messages()) {
    if (message.startsWith(prefix)) texts.append(message);
  }
  return texts;
}

bool NotifySocket::WaitFor(const QByteArray& text, int timeoutMs) {
  return WaitUntil([&] { return Messages().contains(text); }, timeoutMs);
}

bool NotifySocket::WaitForCount(const QByteArray& prefix, qsizetype count, int timeoutMs) {
  return WaitUntil([&] { return MessagesStartingWith(prefix).size() >= count; }, timeoutMs);
}
