// The two listening sockets and the host address shown as caption.
#include <QHostInfo>

#include "core/relay/clientrelay.h"
#include "core/relay/ipv4text.h"

namespace {

// The first IPv4 address the host's own name resolves to, or empty.
QByteArray HostIpv4Address() {
  return FirstIpv4Text(QHostInfo::fromName(QHostInfo::localHostName()).addresses());
}

}  // namespace

// A port that cannot be bound stays closed without a word; the other is
// still tried and the host address is still made known.
void ClientRelay::StartListening() {
  if (!m_serverSocket.isListening()) {
    m_serverSocket.listen(QHostAddress::AnyIPv4, m_nExtPort);
    m_strHostAddress = HostIpv4Address();
    emit HostAddressKnown(m_strHostAddress);
  }
  if (!m_serverSocket2.isListening()) {
    m_serverSocket2.listen(QHostAddress::AnyIPv4, m_nLdkPort);
  }
}
