#include "core/log/journalbuffer.h"

#include <cstdio>

JournalBuffer::~JournalBuffer() { Flush(); }

void JournalBuffer::Add(JournalPriority priority, QByteArrayView utf8Text) {
  m_pending += JournalText(priority, utf8Text, StandardErrorIsJournal());
  if (m_flushQueued) return;
  m_flushQueued = true;
  QMetaObject::invokeMethod(this, &JournalBuffer::Flush, Qt::QueuedConnection);
}

void JournalBuffer::Flush() {
  m_flushQueued = false;
  if (m_pending.isEmpty()) return;
  std::fwrite(m_pending.constData(), 1, size_t(m_pending.size()), stderr);
  std::fflush(stderr);
  m_pending.clear();
}
