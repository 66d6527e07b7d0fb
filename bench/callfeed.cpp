#include "bench/callfeed.h"

#include "tools/telsim/servertexts.h"
#include "tools/telsim/telephonyserver.h"

CallFeed::CallFeed(TelephonyServer& server, QStringList accountIds, RingLedger& ledger)
    : m_server(server), m_accountIds(std::move(accountIds)), m_ledger(ledger) {}

bool CallFeed::NextIsRing() const {
  const QString& accountId = m_accountIds[qsizetype(m_nSent % m_accountIds.size())];
  return m_calls.value(accountId).step == 0;
}

void CallFeed::SendNext() {
  const QString& accountId = m_accountIds[qsizetype(m_nSent % m_accountIds.size())];
  Call& call = m_calls[accountId];
  switch (call.step) {
    case 0: {
      const int64_t seq = m_ledger.Stamp();
      call.caller = QString::fromLatin1(RingLedger::CallerOf(seq));
      call.inExten = QStringLiteral("0707777%1").arg(seq % 10000, 4, 10, QLatin1Char('0'));
      m_server.SendRing(accountId, call.caller, call.inExten, false);
      break;
    }
    case 1:
      m_server.SendHangUp(accountId, call.caller, call.inExten, kOutsideLinePeer);
      break;
    default:
      m_server.SendCallEnd(accountId);
  }
  call.step = (call.step + 1) % 3;
  ++m_nSent;
}
