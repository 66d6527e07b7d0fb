#include "core/relay/clientadmission.h"

Admission ClientAdmission::Admit(int kind, const QHostAddress& peer) {
  if (!m_allowed[size_t(kind)].Allows(peer)) return Admission::NotAllowed;
  int& open = m_openOfHost[HostOf(peer)];
  if (m_clientsPerHost > 0 && open >= m_clientsPerHost) return Admission::OverHostLimit;
  ++open;
  return Admission::Admitted;
}

void ClientAdmission::Left(const QByteArray& host) {
  const auto open = m_openOfHost.find(host);
  if (open == m_openOfHost.end()) return;
  if (--open.value() <= 0) m_openOfHost.erase(open);
}

QByteArray ClientAdmission::HostOf(const QHostAddress& peer) {
  bool isIpv4 = false;
  const quint32 ipv4 = peer.toIPv4Address(&isIpv4);
  return (isIpv4 ? QHostAddress(ipv4) : peer).toString().toLatin1();
}
