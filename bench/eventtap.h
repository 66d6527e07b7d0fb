#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <cstdint>

#include "support/eventconsumer.h"
#include "support/rabbitmqnode.h"

// A throw-away broker node and the consumer tool on a quorum queue, which
// keeps the events while the broker is stopped. Counts each relay's ring
// events, each message id once, so that a relay's publishing twice after a
// lost connection does not count twice.
class EventTap {
 public:
  EventTap();

  // Starts the node (tens of seconds on a busy machine) and the consumer.
  bool Open(QString* error);
  quint16 BrokerPort() const { return m_node.Port(); }
  // rabbitmqctl stop_app and start_app: publishers are cut off and the port
  // refuses them meanwhile.
  bool StopBroker(QString* error);
  bool StartBroker(QString* error);
  // SCHED_IDLE for the node and the consumer, which in a deployment run on
  // other machines: on the relay's cores they take only CPU nothing else
  // wants. Once lowered, the priority is not raised again.
  void LowerPriority();

  int64_t RingsOf(const QString& relay);
  // Runs the event loop until relay's rings reach count, or until none came
  // for quietMs; returns how many there are.
  int64_t WaitForRings(const QString& relay, int64_t count, int quietMs);
  // When the last new ring event came (NowNs), 0 before the first.
  int64_t LastRingNs() const { return m_lastRingNs; }

 private:
  void TakeNewMessages();

  RabbitMqNode m_node;
  EventConsumer m_consumer;
  qsizetype m_nTaken = 0;
  QSet<QString> m_seenIds;
  QHash<QString, int64_t> m_ringsByRelay;
  int64_t m_lastRingNs = 0;
};
