#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "core/stream/amqpsettings.h"

class AmqpConnection;
class Outbox;

// Takes the events of the outbox one after the other on a thread of its
// own and publishes them to the exchange with publisher confirms: a record
// leaves the outbox only once the broker has acknowledged it. A refusal or
// a lost connection publishes it again after a wait that grows from half a
// second to half a minute, so the broker may get an event twice; the
// message id, "<relay>-<outbox sequence>", lets consumers drop the second.
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
  enum class Confirmation { Acknowledged, Refused, Lost };

  void Run(std::stop_token stop);
  std::unique_ptr<AmqpConnection> Connect(std::stop_token stop, QString* problem);
  // The connection a stop cuts short; nullptr before it goes.
  void Watch(AmqpConnection* connection);
  // False when the connection can no longer be used.
  bool Publish(AmqpConnection& connection, quint64 sequence, const QByteArray& payload,
               std::stop_token stop, QString* problem);
  Confirmation AwaitConfirmation(AmqpConnection& connection, quint64 deliveryTag,
                                 std::stop_token stop, QString* problem);
  // Sleeps the current wait, or less when stopped; then doubles it.
  void WaitBeforeRetry(std::stop_token stop);

  const std::shared_ptr<Outbox> m_outbox;
  const AmqpSettings m_settings;
  const QByteArray m_relayName;
  const Timing m_timing;
  std::chrono::milliseconds m_retryWait;
  quint64 m_deliveryTag = 0;
  std::mutex m_watchedMutex;
  AmqpConnection* m_watched = nullptr;
  std::jthread m_thread;  // last: stopped before anything it uses goes
};
