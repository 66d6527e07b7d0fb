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
// still tried and the host address is still made known. A listen address
// that could not be read (null) keeps its port closed rather than open to all.
void ClientRelay::StartListening() {
  if (!m_serverSocket.isListening()) {
    const QHostAddress& address = m_listenAddress[kExtensionClient];
    if (!address.isNull()) m_serverSocket.listen(address, m_nExtPort);
    m_strHostAddress = HostIpv4Address();
    emit HostAddressKnown(m_strHostAddress);
  }
  const QHostAddress& address2 = m_listenAddress[kLdkClient];
  if (!m_serverSocket2.isListening() && !address2.isNull()) {
    m_serverSocket2.listen(address2, m_nLdkPort);
  }
}
