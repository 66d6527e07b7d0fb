#include "core/webhook/outboxwebhookqueue.h"

#include "core/outbox/outbox.h"
#include "core/text/cp949.h"

namespace {

Outbox::Limits LimitsOf(qint64 mostWaitingBytes) {
  Outbox::Limits limits;
  limits.maxWaitingBytes = mostWaitingBytes;
  return limits;
}

// A record is the event's id, a line feed and the body.
bool IsRecord(QByteArrayView payload) { return payload.contains('\n'); }

}  // namespace

OutboxWebhookQueue::OutboxWebhookQueue(QString directory, qint64 mostWaitingBytes, QObject* parent)
    : WebhookQueue(parent),
      m_directory(std::move(directory)),
      m_outbox(std::make_unique<Outbox>(m_directory, QStringLiteral("events"),
                                        LimitsOf(mostWaitingBytes), IsRecord)) {}

OutboxWebhookQueue::~OutboxWebhookQueue() {
  if (m_acknowledger.joinable()) {
    m_acknowledger.request_stop();
    m_acknowledger.join();
  }
  m_outbox->AcknowledgeThrough(m_takenThrough);
  m_outbox->Sync();
}

bool OutboxWebhookQueue::Open() {
  if (!m_outbox->Open()) return false;
  for (const QByteArray& bytes : m_outbox->TakeUnreadable()) {
    emit ErrorLine(ToCp949(QStringLiteral("웹훅 대기열의 읽을 수 없는 기록 %1바이트를 버립니다: %2")
                               .arg(bytes.size())
                               .arg(m_outbox->SpoolPath())));
  }
  m_acknowledger = std::jthread([this](std::stop_token stop) { AcknowledgeLoop(stop); });
  return true;
}

QString OutboxWebhookQueue::ErrorString() const { return m_outbox->ErrorString(); }

bool OutboxWebhookQueue::Append(const QByteArray& bytes) {
  const Outbox::AppendResult result = m_outbox->Append(bytes);
  if (result != Outbox::AppendResult::Appended && result != Outbox::AppendResult::Held) {
    return false;
  }
  // One sync for every record of this pass of the event loop.
  if (!std::exchange(m_syncPosted, true)) {
    QMetaObject::invokeMethod(this, &OutboxWebhookQueue::SyncAppended, Qt::QueuedConnection);
  }
  return true;
}

void OutboxWebhookQueue::SyncAppended() {
  m_syncPosted = false;
  // Records the disk refused wait in memory; the file is written anew from
  // them, at most once a second, until the disk takes it again.
  if (m_outbox->HeldInMemory() > 0) {
    m_outbox->Sync();
    emit Available();
  } else {
    m_outbox->SyncInBackground(
        [this] {
          QMetaObject::invokeMethod(this, &OutboxWebhookQueue::ReportDisk, Qt::QueuedConnection);
        },
        [this] {
          QMetaObject::invokeMethod(
              this, [this] { emit Available(); }, Qt::QueuedConnection);
        });
  }
  ReportDisk();
}

void OutboxWebhookQueue::ReportDisk() {
  const QString error = m_outbox->DiskError();
  if (!error.isEmpty() && !std::exchange(m_diskErrorTold, true)) {
    emit ErrorLine(ToCp949(
        QStringLiteral("웹훅 대기열 디스크 오류: %1 (이벤트는 메모리에서 기다립니다)").arg(error)));
  } else if (error.isEmpty() && std::exchange(m_diskErrorTold, false)) {
    emit ActivityLine(
        ToCp949(QStringLiteral("웹훅 대기열 정상: 메모리의 이벤트를 %1에 다시 썼습니다.")
                    .arg(m_directory)));
  }
}

std::optional<WebhookQueue::Record> OutboxWebhookQueue::Oldest() const {
  const std::optional<Outbox::WaitingRecord> first = m_outbox->FirstAfter(m_takenThrough);
  if (!first) return std::nullopt;
  return Record{qint64(first->sequence), first->payload};
}

void OutboxWebhookQueue::Acknowledge(qint64 sequence) {
  {
    std::lock_guard lock(m_takenMutex);
    m_takenThrough = quint64(sequence);
  }
  m_takenChanged.notify_one();
}

void OutboxWebhookQueue::AcknowledgeLoop(std::stop_token stop) {
  std::unique_lock lock(m_takenMutex);
  quint64 acknowledged = 0;
  while (m_takenChanged.wait(lock, stop, [&] { return m_takenThrough > acknowledged; })) {
    acknowledged = m_takenThrough;
    lock.unlock();
    // Only the oldest is ever handed out: what was taken is the outbox's front.
    m_outbox->AcknowledgeThrough(acknowledged);
    lock.lock();
  }
}

qint64 OutboxWebhookQueue::Waiting() const { return m_outbox->Waiting(); }
