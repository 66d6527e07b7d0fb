#include "core/relay/allowednetworks.h"

#include <QRegularExpression>

AllowedNetworks AllowedNetworks::Parse(const QString& text, QStringList& badEntries) {
  static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
  AllowedNetworks allowed;
  const QStringList entries = text.split(separators, Qt::SkipEmptyParts);
  for (const QString& entry : entries) {
    const QPair<QHostAddress, int> network = QHostAddress::parseSubnet(entry);
    if (network.second < 0) {
      badEntries << entry;
      continue;
    }
    allowed.m_networks << network;
  }
  allowed.m_bEveryone = entries.isEmpty();
  return allowed;
}

bool AllowedNetworks::Allows(const QHostAddress& peer) const {
  if (m_bEveryone) return true;
  bool isIpv4 = false;
  const quint32 ipv4 = peer.toIPv4Address(&isIpv4);
  const QHostAddress plain = isIpv4 ? QHostAddress(ipv4) : peer;
  for (const QPair<QHostAddress, int>& network : m_networks) {
    if (plain.isInSubnet(network) || peer.isInSubnet(network)) return true;
  }
  return false;
}
