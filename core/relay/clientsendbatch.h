#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

class CClientSocket;

// What is written to clients during one pass of the event loop (greetings,
// acknowledgements) goes out together when the pass ends, or earlier when
// the relay flushes (after each call notice, so that a burst of telephony
// events does not hold the first notice back); a quiet client costs nothing
// in the event loop.
class ClientSendBatch : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

  // socket has data waiting; it is flushed once the current pass returns.
  void Add(CClientSocket* socket);
  // Hands everything waiting to the system now.
  void FlushAll();

 private:
  // Guarded: a client can go between its send and the flush.
  std::vector<QPointer<CClientSocket>> m_waiting;
  bool m_bFlushQueued = false;
};
