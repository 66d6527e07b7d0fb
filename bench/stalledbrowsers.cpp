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

// Reads until the bytes read so far end with end, or the connection ends.
bool ReceiveUntil(int fd, const QByteArray& end) {
  QByteArray received;
  char buffer[512];
  while (!received.endsWith(end)) {
    const ssize_t read = ::recv(fd, buffer, received.isEmpty() ? sizeof buffer : 1, 0);
    if (read <= 0) return false;
    received.append(buffer, read);
  }
  return true;
}

// A masked text frame, as a browser sends it (the text under 126 bytes).
QByteArray TextFrame(const QByteArray& text) {
  const char mask[4] = {0x12, 0x34, 0x56, 0x78};
  QByteArray frame;
  frame += char(0x81);
  frame += char(0x80 | text.size());
  frame.append(mask, 4);
  for (qsizetype i = 0; i < text.size(); ++i) frame += char(text[i] ^ mask[i % 4]);
  return frame;
}

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
  const int fd =
      ConnectFromHost(0x7f040001 + quint32(number / kBrowsersPerHost), m_port, kReceiveBufferBytes);
  if (fd >= 0) m_fds.push_back(fd);
  const QByteArray upgrade =
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  const QByteArray signIn = QByteArray(R"({"type":"auth","token":")") + kToken + R"("})";
  if (fd < 0 || !SendAll(fd, upgrade) || !ReceiveUntil(fd, "\r\n\r\n") ||
      !SendAll(fd, TextFrame(signIn)) || !ReceiveUntil(fd, "}")) {
    *error = QStringLiteral("browser %1: not signed in (%2)")
                 .arg(number)
                 .arg(QString::fromLocal8Bit(strerror(errno)));
    return false;
  }
  return true;
}
