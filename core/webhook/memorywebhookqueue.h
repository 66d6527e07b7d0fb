#pragma once

#include <deque>

#include "core/webhook/webhookqueue.h"

// A hook's records in memory, lost when the relay stops; bounded, so that a
// receiver down for long costs a known amount of memory.
class MemoryWebhookQueue : public WebhookQueue {
 public:
  // About 5 MB of call events.
  static constexpr qint64 kDefaultMostRecords = 10000;

  explicit MemoryWebhookQueue(qint64 mostRecords = kDefaultMostRecords)
      : m_mostRecords(mostRecords) {}

  bool Append(const QByteArray& bytes) override;
  std::optional<Record> Oldest() const override;
  void Acknowledge(qint64 sequence) override { Remove(sequence); }
  void Reject(qint64 sequence, const QByteArray&) override { Remove(sequence); }
  qint64 Waiting() const override { return qint64(m_records.size()); }

 private:
  void Remove(qint64 sequence);

  const qint64 m_mostRecords;
  qint64 m_nextSequence = 1;
  std::deque<Record> m_records;
};
