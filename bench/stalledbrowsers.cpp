#include "bench/stalledbrowsers.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bench/hostconnection.h"

namespace {

constexpr int kReceiveBufferBytes = 4096;
// One source address per hundred browsers, below the relay's limit per host.
constexpr int kBrowsersPerHost = 100;

}  // namespace

StalledBrowsers::StalledBrowsers(quint16 port, int count) : m_port(port), m_nCount(count) {}

StalledBrowsers::~StalledBrowsers() {
  for (const int fd : m_fds) ::close(fd);
}

bool StalledBrowsers::Open(QString* error) {
  for (int number = 0; number < m_nCount; ++number) {
    if (!OpenOne(number, error)) return false;
  }
  return true;
}

bool StalledBrowsers::OpenOne(int number, QString* error) {
  const int fd = SignInBrowser(0x7f040001 + quint32(number / kBrowsersPerHost), m_port, kToken,
                               kReceiveBufferBytes);
  if (fd < 0) {
    *error = QStringLiteral("browser %1: not signed in (%2)")
                 .arg(number)
                 .arg(QString::fromLocal8Bit(strerror(errno)));
    return false;
  }
  m_fds.push_back(fd);
  return true;
}
