#include "core/relay/clientsendbatch.h"

#include "core/relay/clientsocket.h"

void ClientSendBatch::Add(CClientSocket* socket) {
  m_waiting.emplace_back(socket);
  if (m_bFlushQueued) return;
  m_bFlushQueued = true;
  QMetaObject::invokeMethod(this, &ClientSendBatch::FlushAll, Qt::QueuedConnection);
}

void ClientSendBatch::FlushAll() {
  m_bFlushQueued = false;
  m_heldSince.invalidate();
  // Taken first, so that nothing a flush sets off can change the list under it.
  const std::vector<QPointer<CClientSocket>> waiting = std::move(m_waiting);
  m_waiting.clear();
  for (const QPointer<CClientSocket>& socket : waiting) {
    if (socket) socket->Flush();
  }
}

void ClientSendBatch::FlushDue() {
  const bool quiet = !m_sinceNotice.isValid() || m_sinceNotice.nsecsElapsed() >= kQuietNs;
  m_sinceNotice.start();
  if (quiet || (m_heldSince.isValid() && m_heldSince.nsecsElapsed() >= kMaxHoldNs)) {
    FlushAll();
  } else if (!m_heldSince.isValid()) {
    m_heldSince.start();
  }
}
