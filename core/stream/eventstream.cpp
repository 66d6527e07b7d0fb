#include "core/stream/eventstream.h"

#include <QDir>

#include "core/config/relayname.h"
#include "core/config/settingkeys.h"
#include "core/config/settingsstore.h"
#include "core/outbox/outbox.h"
#include "core/stream/amqppublisher.h"
#include "core/stream/eventmessage.h"
#include "core/stream/eventrecord.h"
#include "core/text/cp949.h"

namespace {

const QString kOutboxDirectory = QStringLiteral("events");

QByteArray OutboxRefusedLine(const QString& error) {
  return ToCp949(QStringLiteral("이벤트 대기열을 열지 못함: %1 (이벤트를 브로커에 보내지 않습니다)")
                     .arg(error));
}

QByteArray OutboxFullLine(qint64 waiting) {
  return ToCp949(
      QStringLiteral(
          "이벤트 대기열이 가득 참: 브로커를 기다리는 이벤트 %1건 (새 이벤트는 버립니다)")
          .arg(waiting));
}

QByteArray OutboxTakesAgainLine() {
  return ToCp949(QStringLiteral("이벤트 대기열 정상: 다시 이벤트를 받습니다."));
}

QByteArray EventDroppedLine(const QString& why) {
  return ToCp949(QStringLiteral("이벤트를 대기열에 넣지 못함: %1").arg(why));
}

QByteArray OutboxDiskErrorLine(const QString& error) {
  return ToCp949(
      QStringLiteral("이벤트 대기열 디스크 오류: %1 (이벤트는 메모리에서 기다립니다)").arg(error));
}

QByteArray OutboxDiskBackLine() {
  return ToCp949(QStringLiteral("이벤트 대기열 정상: 메모리의 이벤트를 디스크에 다시 썼습니다."));
}

QByteArray BrokerConnectedLine(const QString& host, quint16 port) {
  return ToCp949(QStringLiteral("이벤트 브로커 연결: %1:%2").arg(host).arg(port));
}

QByteArray BrokerLostLine(const QString& reason) {
  return ToCp949(
      QStringLiteral("이벤트 브로커 연결 끊김: %1 (이벤트는 대기열에서 기다립니다)").arg(reason));
}

}  // namespace

EventStream::EventStream(QObject* parent) : QObject(parent) {}

EventStream::~EventStream() {
  m_publisher.reset();
  if (m_outbox) m_outbox->Sync();
}

void EventStream::Start(SettingsStore& settings, const QString& stateDirectory) {
  const AmqpSettings amqp = AmqpSettings::Read(settings);
  if (amqp.host.isEmpty() || stateDirectory.isEmpty()) return;
  m_relayName = ReadRelayName(settings);
  Outbox::Limits limits;
  limits.maxWaitingBytes = settings.GetProfileInt(kAmqpOutboxBytesSetting);
  auto outbox = std::make_shared<Outbox>(QDir(stateDirectory).filePath(kOutboxDirectory),
                                         QStringLiteral("events"), limits, &EventMessage::IsRecord);
  if (!outbox->Open()) {
    emit ErrorLine(OutboxRefusedLine(outbox->ErrorString()));
    return;
  }
  for (const QByteArray& bytes : outbox->TakeUnreadable()) {
    emit ErrorLine(EventDroppedLine(QStringLiteral("%1 bytes unreadable").arg(bytes.size())));
  }
  m_outbox = std::move(outbox);
  m_publisher =
      std::make_unique<AmqpPublisher>(m_outbox, amqp, m_relayName, AmqpPublisher::Timing{});
  connect(
      m_publisher.get(), &AmqpPublisher::Connected, this,
      [this, host = amqp.host, port = amqp.port] {
        emit ActivityLine(BrokerConnectedLine(host, port));
      },
      Qt::QueuedConnection);
  connect(
      m_publisher.get(), &AmqpPublisher::ConnectionLost, this,
      [this](const QString& reason) { emit ErrorLine(BrokerLostLine(reason)); },
      Qt::QueuedConnection);
  m_publisher->Start();
}

void EventStream::Deliver(const CallEvent& event, const CallOutcome&) {
  if (!m_outbox) return;
  // Written with the others of this pass, before it ends or a client is sent
  // anything: one write, not one per event.
  const Outbox::AppendResult result = m_outbox->AppendUnwritten(EncodeEventRecord(event));
  switch (result) {
    case Outbox::AppendResult::Appended:
    case Outbox::AppendResult::Held:
      if (std::exchange(m_refusing, false)) emit ActivityLine(OutboxTakesAgainLine());
      // One sync for every event of this pass of the event loop.
      if (!std::exchange(m_syncPosted, true)) {
        QMetaObject::invokeMethod(this, &EventStream::SyncAppended, Qt::QueuedConnection);
      }
      return;
    case Outbox::AppendResult::Full:
      if (!std::exchange(m_refusing, true)) emit ErrorLine(OutboxFullLine(m_outbox->Waiting()));
      return;
    case Outbox::AppendResult::TooLarge:
      emit ErrorLine(EventDroppedLine(QStringLiteral("too large")));
      return;
    case Outbox::AppendResult::Failed:
      emit ErrorLine(EventDroppedLine(m_outbox->ErrorString()));
      return;
  }
}

void EventStream::WriteAppended() {
  if (m_outbox) m_outbox->WriteAppended();
}

void EventStream::SyncAppended() {
  m_syncPosted = false;
  // Events the disk refused wait in memory; the file is written anew from
  // them, at most once a second, until the disk takes it again.
  if (m_outbox->HeldInMemory() > 0) {
    m_outbox->Sync();
  } else {
    m_outbox->SyncInBackground([this] {
      QMetaObject::invokeMethod(this, &EventStream::ReportDisk, Qt::QueuedConnection);
    });
  }
  ReportDisk();
}

void EventStream::ReportDisk() {
  const QString error = m_outbox->DiskError();
  if (!error.isEmpty() && !std::exchange(m_diskErrorTold, true)) {
    emit ErrorLine(OutboxDiskErrorLine(error));
  } else if (error.isEmpty() && std::exchange(m_diskErrorTold, false)) {
    emit ActivityLine(OutboxDiskBackLine());
  }
}

qint64 EventStream::Waiting() const { return m_outbox ? m_outbox->Waiting() : 0; }
