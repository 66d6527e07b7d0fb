#include "bench/eventtap.h"

#include <unistd.h>

#include "bench/processpriority.h"
#include "bench/ringledger.h"
#include "support/qtwait.h"

namespace {

const QString kQueue = QStringLiteral("relaybench");

}  // namespace

EventTap::EventTap() : m_node(QStringLiteral("tarvex-bench-%1").arg(::getpid())) {}

bool EventTap::Open(QString* error) {
  if (!m_node.Start()) {
    *error = m_node.Log();
    return false;
  }
  if (!m_consumer.Start(m_node.Port(), kQueue)) {
    *error = QStringLiteral("tarvex-events: ") + m_consumer.StandardError();
    return false;
  }
  return true;
}

bool EventTap::StopBroker(QString* error) {
  if (m_node.StopBroker()) return true;
  *error = m_node.Log();
  return false;
}

bool EventTap::StartBroker(QString* error) {
  if (m_node.StartBroker()) return true;
  *error = m_node.Log();
  return false;
}

void EventTap::LowerPriority() {
  IdleOfTree(pid_t(m_node.ProcessId()));
  IdleOfTree(pid_t(m_consumer.ProcessId()));
}

void EventTap::TakeNewMessages() {
  const QList<EventConsumer::Message> messages = m_consumer.Messages();
  for (; m_nTaken < messages.size(); ++m_nTaken) {
    const EventConsumer::Message& message = messages[m_nTaken];
    if (!message.routingKey.endsWith(QStringLiteral(".ring"))) continue;
    if (m_seenIds.contains(message.messageId)) continue;
    m_seenIds.insert(message.messageId);
    ++m_ringsByRelay[message.messageId.section(QLatin1Char('-'), 0, -2)];
    m_lastRingNs = NowNs();
  }
}

int64_t EventTap::RingsOf(const QString& relay) {
  TakeNewMessages();
  return m_ringsByRelay.value(relay);
}

int64_t EventTap::WaitForRings(const QString& relay, int64_t count, int quietMs) {
  int64_t got = RingsOf(relay);
  while (got < count && WaitUntil([&] { return RingsOf(relay) > got; }, quietMs)) {
    got = RingsOf(relay);
  }
  return RingsOf(relay);
}
