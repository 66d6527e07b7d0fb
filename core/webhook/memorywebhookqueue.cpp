#include "core/webhook/memorywebhookqueue.h"

bool MemoryWebhookQueue::Append(const QByteArray& bytes) {
  if (Waiting() >= m_mostRecords) return false;
  m_records.push_back({m_nextSequence++, bytes});
  return true;
}

std::optional<WebhookQueue::Record> MemoryWebhookQueue::Oldest() const {
  if (m_records.empty()) return std::nullopt;
  return m_records.front();
}

// Only the oldest is ever handed out, so only the oldest is ever removed.
void MemoryWebhookQueue::Remove(qint64 sequence) {
  if (!m_records.empty() && m_records.front().sequence == sequence) m_records.pop_front();
}
