#include "core/relay/clientsendbatch.h"

#include "core/relay/clientsocket.h"

#include <algorithm>

void ClientSendBatch::Add(CClientSocket* socket) {
  m_waiting.emplace_back(socket);
  if (m_bFlushQueued) return;
  m_bFlushQueued = true;
  QMetaObject::invokeMethod(this, &ClientSendBatch::FlushAll, Qt::QueuedConnection);
}

void ClientSendBatch::Forget(const CClientSocket* socket) {
  std::replace(m_waiting.begin(), m_waiting.end(), const_cast<CClientSocket*>(socket),
               static_cast<CClientSocket*>(nullptr));
}

void ClientSendBatch::FlushAll() {
  m_bFlushQueued = false;
  if (m_beforeFlush && !m_waiting.empty()) m_beforeFlush();
  const bool noticesHeld = m_heldSince.isValid();
  m_heldSince.invalidate();
  // By index: whatever a flush sets off may add to the list or forget a socket.
  for (size_t n = 0; n < m_waiting.size(); ++n) {
    if (m_waiting[n]) m_waiting[n]->Flush();
  }
  m_waiting.clear();
  if (noticesHeld) m_sinceNoticesLeft.start();
}

void ClientSendBatch::FlushDue() {
  // Counted from when the last notices left, not from when they came: with
  // a thousand clients their sends take milliseconds, and the rings that
  // came meanwhile are a burst to send together.
  const bool quiet = !m_sinceNoticesLeft.isValid() || m_sinceNoticesLeft.nsecsElapsed() >= kQuietNs;
  if (quiet || (m_heldSince.isValid() && m_heldSince.nsecsElapsed() >= kMaxHoldNs)) {
    FlushAll();
    m_sinceNoticesLeft.start();
  } else if (!m_heldSince.isValid()) {
    m_heldSince.start();
  }
}
