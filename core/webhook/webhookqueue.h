#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// What one hook has still to deliver, oldest first. Held in memory for now;
// a durable outbox per hook can stand behind it without the sender knowing.
class WebhookQueue {
 public:
  struct Record {
    qint64 sequence;
    QByteArray bytes;
  };

  virtual ~WebhookQueue() = default;
  // False when the queue is full: the record is refused, not queued.
  virtual bool Append(const QByteArray& bytes) = 0;
  virtual std::optional<Record> Oldest() const = 0;
  // Delivered: gone from the queue.
  virtual void Acknowledge(qint64 sequence) = 0;
  // Given up on: gone from the queue; a durable queue may keep it aside with reason.
  virtual void Reject(qint64 sequence, const QByteArray& reason) = 0;
  virtual qint64 Waiting() const = 0;
};
