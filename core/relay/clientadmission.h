#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <array>

#include "core/relay/allowednetworks.h"

enum class Admission { Admitted, NotAllowed, OverHostLimit };

// Decides at accept whether a connection may stay: its address must be in
// the port's networks, and its host must hold fewer than the limit of open
// connections (both ports together), so that one host cannot use up the
// relay's descriptors and lock out the desks.
class ClientAdmission {
 public:
  void SetAllowed(int kind, AllowedNetworks networks) { m_allowed[size_t(kind)] = networks; }
  // 0: no limit.
  void SetClientsPerHost(int limit) { m_clientsPerHost = limit; }
  int ClientsPerHost() const { return m_clientsPerHost; }

  // An admitted connection counts for its host until Left.
  Admission Admit(int kind, const QHostAddress& peer);
  void Left(const QByteArray& host);

  // The text that names a host: an IPv4-mapped IPv6 address as plain IPv4.
  static QByteArray HostOf(const QHostAddress& peer);

 private:
  std::array<AllowedNetworks, 2> m_allowed;
  int m_clientsPerHost = 0;
  QHash<QByteArray, int> m_openOfHost;
};
