#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "bench/ringledger.h"
#include "tools/telsim/callcycle.h"

// Calls as a call centre has them, over the simulator's accounts: each
// account in turn rings, is picked up and ends its call, so that calls of
// different accounts interleave. Every ring is stamped in the ledger and
// carries its sequence number as the caller's number.
class CallFeed {
 public:
  CallFeed(TelephonyServer& server, QStringList accountIds, RingLedger& ledger);

  bool NextIsRing() const;
  void SendNext();
  int64_t EventsSent() const { return m_nSent; }

 private:
  CallCycle m_cycle;
  QStringList m_accountIds;
  RingLedger& m_ledger;
  int64_t m_nSent = 0;
};
