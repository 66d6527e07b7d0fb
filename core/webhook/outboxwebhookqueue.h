#pragma once

#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "core/webhook/webhookqueue.h"

class Outbox;

// A hook's records in an outbox of its own (events.spool in the hook's
// directory), so that they wait across restarts. Appended on the event loop
// and synced off it; the acknowledgements, synced as well, are written on a
// thread of the queue's own, so that a slow disk never holds up a ring.
class OutboxWebhookQueue : public WebhookQueue {
  Q_OBJECT
 public:
  OutboxWebhookQueue(QString directory, qint64 mostWaitingBytes, QObject* parent = nullptr);
  // Acknowledges what was delivered and syncs what was appended.
  ~OutboxWebhookQueue() override;

  // Recovers what waited; records that cannot be read are told and dropped.
  bool Open();
  QString ErrorString() const;

  bool Append(const QByteArray& bytes) override;
  std::optional<Record> Oldest() const override;
  void Acknowledge(qint64 sequence) override;
  // The reject file holds it already.
  void Reject(qint64 sequence, const QByteArray&) override { Acknowledge(sequence); }
  // Delivered records count until their acknowledgement is written.
  qint64 Waiting() const override;

 signals:
  void ActivityLine(const QByteArray& cp949);
  void ErrorLine(const QByteArray& cp949);

 private:
  void SyncAppended();
  // Tells once that the disk refuses the queue, and once that it takes it again.
  void ReportDisk();
  void AcknowledgeLoop(std::stop_token stop);

  const QString m_directory;
  const std::unique_ptr<Outbox> m_outbox;
  bool m_syncPosted = false;
  bool m_diskErrorTold = false;
  std::mutex m_takenMutex;
  std::condition_variable_any m_takenChanged;
  // Done with on the event loop; acknowledged on the thread.
  quint64 m_takenThrough = 0;
  std::jthread m_acknowledger;  // last: stopped before anything it uses goes
};
