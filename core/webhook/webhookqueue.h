#pragma once

#include <QByteArray>
#include <QObject>
#include <QtGlobal>
#include <optional>

// What one hook has still to deliver, oldest first. An appended record is
// not for sending at once: Available tells when Oldest may have one more.
class WebhookQueue : public QObject {
  Q_OBJECT
 public:
  struct Record {
    qint64 sequence;
    QByteArray bytes;
  };

  using QObject::QObject;
  // False when the queue is full: the record is refused, not queued.
  virtual bool Append(const QByteArray& bytes) = 0;
  virtual std::optional<Record> Oldest() const = 0;
  // Delivered: gone from the queue.
  virtual void Acknowledge(qint64 sequence) = 0;
  // Given up on: gone from the queue; a durable queue may keep it aside with reason.
  virtual void Reject(qint64 sequence, const QByteArray& reason) = 0;
  virtual qint64 Waiting() const = 0;

 signals:
  void Available();
};
