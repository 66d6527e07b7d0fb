#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>

// The tarvex-events tool bound to every routing key, printing envelopes.
class EventConsumer {
 public:
  struct Message {
    QString messageId;
    QString routingKey;
    QJsonObject event;
  };

  ~EventConsumer();
  // Consumes from a durable queue of that name, or from one of its own
  // when queue is empty; true once it consumes.
  bool Start(quint16 brokerPort, const QString& queue = {});
  // Every message so far, duplicates included, in the order of arrival.
  QList<Message> Messages();
  QString StandardError();
  qint64 ProcessId() const { return m_process.processId(); }

 private:
  QProcess m_process;
  QByteArray m_output;
  QByteArray m_errors;
  QList<Message> m_messages;
};
