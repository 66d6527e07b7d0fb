#include "core/config/instancelock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

InstanceLock::InstanceLock(const QString& name) {
  m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // Leading NUL: the abstract namespace, released by the kernel with the process.
  const QByteArray bytes = "tarvex-instance:" + name.toUtf8();
  const size_t length = std::min(bytes.size(), qsizetype(sizeof(address.sun_path) - 1));
  std::memcpy(address.sun_path + 1, bytes.constData(), length);
  const auto addressLength = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), addressLength) != 0) {
    m_alreadyExists = (errno == EADDRINUSE);
    ::close(m_fd);
    m_fd = -1;
  }
}

InstanceLock::~InstanceLock() {
  if (m_fd >= 0) ::close(m_fd);
}
