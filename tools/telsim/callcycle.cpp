#include "tools/telsim/callcycle.h"

#include "tools/telsim/servertexts.h"
#include "tools/telsim/telephonyserver.h"

bool CallCycle::NextIsRing(const QString& accountId) const {
  return m_calls.value(accountId).step == 0;
}

void CallCycle::SendNext(const QString& accountId, const std::function<quint64()>& nextCallSerial) {
  Call& call = m_calls[accountId];
  switch (call.step) {
    case 0: {
      const quint64 serial = nextCallSerial();
      call.caller = QStringLiteral("010%1").arg(serial % 100000000, 8, 10, QLatin1Char('0'));
      call.inExten = QStringLiteral("0707777%1").arg(serial % 10000, 4, 10, QLatin1Char('0'));
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
}
