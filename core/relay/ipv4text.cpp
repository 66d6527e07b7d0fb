#include "core/relay/ipv4text.h"

QByteArray DottedIpv4(const QHostAddress& address) {
  bool isIpv4 = false;
  const quint32 ipv4 = address.toIPv4Address(&isIpv4);
  return isIpv4 ? QHostAddress(ipv4).toString().toLatin1() : QByteArray();
}

QByteArray FirstIpv4Text(const QList<QHostAddress>& addresses) {
  for (const QHostAddress& address : addresses) {
    const QByteArray text = DottedIpv4(address);
    if (!text.isEmpty()) return text;
  }
  return {};
}
