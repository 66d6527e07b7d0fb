#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <vector>

class CClientSocket;

// What is written to clients during one pass of the event loop (greetings,
// acknowledgements) goes out together when the pass ends, or earlier when
// the relay flushes (after a call notice, so that a burst of telephony
// events does not hold the first notice back); a quiet client costs nothing
// in the event loop.
class ClientSendBatch : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

  // socket has data waiting; it is flushed once the current pass returns.
  void Add(CClientSocket* socket);
  // socket is closing: nothing of it is flushed any more.
  void Forget(const CClientSocket* socket);
  // Runs before anything waiting is handed to the system.
  void SetBeforeFlush(std::function<void()> beforeFlush) { m_beforeFlush = std::move(beforeFlush); }
  // Hands everything waiting to the system now.
  void FlushAll();
  // After a call notice: now when no notices left in the kQuietNs before,
  // so that a burst never holds its first notice back, or when
  // notices have been held for kMaxHoldNs, so that a long burst holds none
  // for long; otherwise the notice leaves with the next of those flushes or
  // the one at the end of the pass, one send per client for many notices.
  // With a thousand clients a send per client per notice was most of the
  // relay's time under load.
  void FlushDue();

  static constexpr qint64 kQuietNs = 5'000'000;
  static constexpr qint64 kMaxHoldNs = 10'000'000;

 private:
  // A socket leaves the list when it closes (Forget), before it can go.
  std::vector<CClientSocket*> m_waiting;
  std::function<void()> m_beforeFlush;
  bool m_bFlushQueued = false;
  QElapsedTimer m_sinceNoticesLeft;  // since notices were last flushed; invalid before
  QElapsedTimer m_heldSince;         // since the oldest notice held back; invalid when none is
};
