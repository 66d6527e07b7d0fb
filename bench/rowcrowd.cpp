#include "bench/rowcrowd.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "bench/clientfleet.h"
#include "bench/hostconnection.h"
#include "bench/ringledger.h"

namespace {

// "9 " and letters: the lone digit 9 is in no account's extension.
QByteArray RowText(int connection, int row) {
  QByteArray text = "9 ";
  for (int value = connection * 1000 + row; value > 0 || text.size() == 2; value /= 26) {
    text += char('a' + value % 26);
  }
  return text;
}

bool ReceiveAck(int fd) {
  char ack[4];
  size_t got = 0;
  while (got < sizeof ack) {
    const ssize_t read = ::recv(fd, ack + got, sizeof ack - got, 0);
    if (read <= 0) return false;
    got += size_t(read);
  }
  return true;
}

}  // namespace

RowCrowd::RowCrowd(QByteArray host, quint16 port, int connections, int rowsEach)
    : m_host(std::move(host)), m_port(port), m_nConnections(connections), m_nRowsEach(rowsEach) {}

RowCrowd::~RowCrowd() {
  for (const int fd : m_fds) CloseAtOnce(fd);
}

bool RowCrowd::Open(QString* error) {
  const int64_t startNs = NowNs();
  for (int number = 0; number < m_nConnections; ++number) {
    if (!OpenConnection(number, error)) return false;
  }
  m_seconds = double(NowNs() - startNs) / 1e9;
  return true;
}

bool RowCrowd::OpenConnection(int number, QString* error) {
  in_addr source{};
  const int fd = ::inet_pton(AF_INET, m_host.constData(), &source) == 1
                     ? ConnectFromHost(ntohl(source.s_addr), m_port)
                     : -1;
  if (fd < 0) {
    *error = QStringLiteral("crowd connection %1: %2")
                 .arg(number)
                 .arg(QString::fromLocal8Bit(strerror(errno)));
    return false;
  }
  m_fds.push_back(fd);
  for (int row = 0; row < m_nRowsEach; ++row) {
    if (!SendAll(fd, RowText(number, row)) || !ReceiveAck(fd)) {
      *error = QStringLiteral("crowd connection %1: row %2 not acknowledged").arg(number).arg(row);
      return false;
    }
  }
  return true;
}
