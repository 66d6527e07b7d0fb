#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The client networks one port takes: addresses and CIDR ranges, IPv4 or
// IPv6. An empty list takes everyone, as the port always did.
class AllowedNetworks {
 public:
  // Entries separated by commas or blanks. A bad entry goes to badEntries
  // and is left out; a list whose every entry was bad takes no one, so that
  // a typing error never leaves the port open to all.
  static AllowedNetworks Parse(const QString& text, QStringList& badEntries);

  // An IPv4-mapped IPv6 peer is judged as the IPv4 address it carries.
  bool Allows(const QHostAddress& peer) const;
  bool TakesEveryone() const { return m_bEveryone; }
  bool TakesNoOne() const { return !m_bEveryone && m_networks.isEmpty(); }

 private:
  QList<QPair<QHostAddress, int>> m_networks;
  bool m_bEveryone = true;
};
