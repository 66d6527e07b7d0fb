#include "bench/callfeed.h"

CallFeed::CallFeed(TelephonyServer& server, QStringList accountIds, RingLedger& ledger)
    : m_cycle(server), m_accountIds(std::move(accountIds)), m_ledger(ledger) {}

bool CallFeed::NextIsRing() const {
  const QString& accountId = m_accountIds[qsizetype(m_nSent % m_accountIds.size())];
  return m_cycle.NextIsRing(accountId);
}

void CallFeed::SendNext() {
  const QString& accountId = m_accountIds[qsizetype(m_nSent % m_accountIds.size())];
  m_cycle.SendNext(accountId, [this] { return quint64(m_ledger.Stamp()); });
  ++m_nSent;
}
