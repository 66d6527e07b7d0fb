#include "bench/hostconnection.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

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

int ConnectFromHost(quint32 source, quint16 port, int receiveBufferBytes) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (receiveBufferBytes > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
  }
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(source);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    const int failure = errno;
    ::close(fd);
    errno = failure;
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const QByteArray& bytes) {
  return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}

int SignInBrowser(quint32 source, quint16 port, const QByteArray& token, int receiveBufferBytes) {
  const int fd = ConnectFromHost(source, port, receiveBufferBytes);
  const QByteArray upgrade =
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  const QByteArray signIn = R"({"type":"auth","token":")" + token + R"("})";
  if (fd < 0) return -1;
  if (!SendAll(fd, upgrade) || !ReceiveUntil(fd, "\r\n\r\n") || !SendAll(fd, TextFrame(signIn)) ||
      !ReceiveUntil(fd, "}")) {
    const int failure = errno;
    ::close(fd);
    errno = failure;
    return -1;
  }
  return fd;
}
