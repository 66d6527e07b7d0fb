#include "bench/floodclient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <cerrno>
#include <cstring>

#include "bench/clientfleet.h"
#include "bench/ringledger.h"

namespace {

constexpr qsizetype kChunkBytes = 1 << 20;
constexpr qint64 kFirstNumber = 1000000;

}  // namespace

FloodClient::FloodClient(quint16 port, int64_t bytes) : m_port(port), m_nBytes(bytes) {}

// Shutting the socket down wakes both threads if the relay is still busy.
FloodClient::~FloodClient() {
  if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
  if (m_sender.joinable()) m_sender.join();
  if (m_reader.joinable()) m_reader.join();
  if (m_fd >= 0) CloseAtOnce(m_fd);
}

bool FloodClient::Start(QString* error) {
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(m_port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    *error = QStringLiteral("flood client: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    return false;
  }
  m_startNs = NowNs();
  m_reader = std::thread([this] { ReadAll(); });
  m_sender = std::thread([this] { SendAll(); });
  return true;
}

// Blocking sends: as fast as the relay lets the system take the bytes.
void FloodClient::SendAll() {
  qint64 number = kFirstNumber;
  QByteArray chunk;
  chunk.reserve(kChunkBytes + 32);
  while (m_nSent < m_nBytes) {
    chunk.clear();
    while (chunk.size() < kChunkBytes) chunk += QByteArray::number(number++) + '\n';
    qsizetype at = 0;
    while (at < chunk.size()) {
      const ssize_t count =
          ::send(m_fd, chunk.constData() + at, size_t(chunk.size() - at), MSG_NOSIGNAL);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        Finish();
        return;
      }
      at += count;
      m_nSent += count;
    }
  }
  ::shutdown(m_fd, SHUT_WR);
  Finish();
}

void FloodClient::Finish() {
  m_seconds = double(NowNs() - m_startNs) / 1e9;
  m_bDone = true;
}

void FloodClient::ReadAll() {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t count = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (count == 0 || (count < 0 && errno != EINTR)) return;
  }
}
