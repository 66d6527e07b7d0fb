#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "core/outbox/outbox.h"
#include "core/stream/amqpsettings.h"

class AmqpConnection;
class BatchConfirmations;

// Takes the events of the outbox in order on a thread of its own, many at a
// time, and publishes them to the exchange with publisher confirms: a record
// leaves the outbox only once the broker has acknowledged it and every one
// before it. A refusal or a lost connection publishes again from the first
// event not acknowledged, after a wait that grows from half a second to half
// a minute, so the broker may get an event twice; the message id,
// "<relay>-<outbox sequence>", lets consumers drop the second.
// The event loop never waits for the broker: the signals come queued.
class AmqpPublisher : public QObject {
  Q_OBJECT
 public:
  struct Timing {
    std::chrono::milliseconds firstRetry{500};
    std::chrono::milliseconds longestRetry{30000};
    // For connecting and for each confirmation.
    std::chrono::milliseconds brokerTimeout{10000};
  };

  AmqpPublisher(std::shared_ptr<Outbox> outbox, AmqpSettings settings, QString relayName,
                Timing timing, QObject* parent = nullptr);
  ~AmqpPublisher() override;

  void Start();

 signals:
  void Connected();
  // Once per loss, not again for each failed attempt to connect.
  void ConnectionLost(const QString& reason);

 private:
  void Run(std::stop_token stop);
  std::unique_ptr<AmqpConnection> Connect(std::stop_token stop, QString* problem);
  // The connection a stop cuts short; nullptr before it goes.
  void Watch(AmqpConnection* connection);
  // Publishes the records and awaits their confirmations; false when the
  // connection can no longer be used.
  bool PublishBatch(AmqpConnection& connection, const QList<Outbox::WaitingRecord>& batch,
                    std::stop_token stop, QString* problem);
  bool Publish(AmqpConnection& connection, const Outbox::WaitingRecord& record, QString* problem);
  // Until every delivery of the batch is answered; false when the connection
  // went or the broker stayed silent for brokerTimeout.
  bool AwaitConfirmations(AmqpConnection& connection, BatchConfirmations& confirmations,
                          std::stop_token stop, QString* problem);
  // Sleeps the current wait, or less when stopped; then doubles it.
  void WaitBeforeRetry(std::stop_token stop);

  const std::shared_ptr<Outbox> m_outbox;
  const AmqpSettings m_settings;
  const QString m_relayName;
  const QByteArray m_messageIdPrefix;
  const QByteArray m_exchange;
  const Timing m_timing;
  std::chrono::milliseconds m_retryWait;
  quint64 m_deliveryTag = 0;
  std::mutex m_watchedMutex;
  AmqpConnection* m_watched = nullptr;
  std::jthread m_thread;  // last: stopped before anything it uses goes
};
