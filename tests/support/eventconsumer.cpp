#include "support/eventconsumer.h"

#include <QJsonDocument>

#include "support/qtwait.h"

EventConsumer::~EventConsumer() {
  m_process.terminate();
  if (!m_process.waitForFinished(10000)) m_process.kill();
}

bool EventConsumer::Start(quint16 brokerPort, const QString& queue) {
  QStringList arguments{QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                        QStringLiteral("--port"), QString::number(brokerPort),
                        QStringLiteral("--envelope")};
  if (!queue.isEmpty()) arguments << QStringLiteral("--queue") << queue;
  m_process.start(QStringLiteral(TARVEX_BINARY_DIR "/tarvex-events"), arguments);
  return m_process.waitForStarted() &&
         WaitUntil([this] { return StandardError().contains(QStringLiteral("consuming")); }, 60000);
}

QString EventConsumer::StandardError() {
  m_errors += m_process.readAllStandardError();
  return QString::fromUtf8(m_errors);
}

QList<EventConsumer::Message> EventConsumer::Messages() {
  m_output += m_process.readAllStandardOutput();
  // Cut once: a bench drains hundreds of thousands of lines at a time.
  qsizetype start = 0;
  for (qsizetype end = 0; (end = m_output.indexOf('\n', start)) >= 0; start = end + 1) {
    const QJsonObject line = QJsonDocument::fromJson(m_output.mid(start, end - start)).object();
    m_messages.append({line.value(QStringLiteral("messageId")).toString(),
                       line.value(QStringLiteral("routingKey")).toString(),
                       line.value(QStringLiteral("event")).toObject()});
  }
  m_output.remove(0, start);
  return m_messages;
}
