#include "core/stream/amqppublisher.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <mutex>

#include "core/outbox/outbox.h"
#include "core/stream/amqpconnection.h"
#include "core/stream/batchconfirmations.h"
#include "core/stream/eventmessage.h"

namespace {

// How often a wait for the broker looks whether it should stop.
constexpr std::chrono::milliseconds kStopCheck{200};
// Published before their confirmations are awaited together: a round trip
// to the broker, its commit to disk and an acknowledgement written to the
// outbox for many events instead of each.
constexpr qsizetype kBatchRecords = 256;
constexpr qint64 kBatchBytes = 1024 * 1024;
constexpr int kPublisherNice = 10;

}  // namespace

AmqpPublisher::AmqpPublisher(std::shared_ptr<Outbox> outbox, AmqpSettings settings,
                             QString relayName, Timing timing, QObject* parent)
    : QObject(parent),
      m_outbox(std::move(outbox)),
      m_settings(std::move(settings)),
      m_relayName(std::move(relayName)),
      m_messageIdPrefix(m_relayName.toUtf8() + '-'),
      m_exchange(m_settings.exchange.toUtf8()),
      m_timing(timing),
      m_retryWait(timing.firstRetry) {}

AmqpPublisher::~AmqpPublisher() = default;

void AmqpPublisher::Start() {
  m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void AmqpPublisher::Watch(AmqpConnection* connection) {
  std::lock_guard lock(m_watchedMutex);
  m_watched = connection;
}

std::unique_ptr<AmqpConnection> AmqpPublisher::Connect(std::stop_token stop, QString* problem) {
  auto connection = std::make_unique<AmqpConnection>();
  Watch(connection.get());
  if (stop.stop_requested()) connection->Cut();
  if (connection->Open(m_settings, m_timing.brokerTimeout)) {
    amqp_confirm_select(connection->Handle(), AmqpConnection::kChannel);
    if (connection->CheckReply("cannot select confirmations")) {
      m_deliveryTag = 0;
      return connection;
    }
  }
  *problem = connection->ErrorString();
  Watch(nullptr);
  return nullptr;
}

void AmqpPublisher::WaitBeforeRetry(std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable_any never;
  std::unique_lock lock(mutex);
  never.wait_for(lock, stop, m_retryWait, [] { return false; });
  m_retryWait = std::min(m_retryWait * 2, m_timing.longestRetry);
}

void AmqpPublisher::Run(std::stop_token stop) {
  // A broker gone while TLS writes to it would end the relay with SIGPIPE;
  // blocked on this thread, the write fails with EPIPE instead.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  // When the CPU is short, the notices to the agents go first: the events
  // wait in the outbox meanwhile. Lowering a thread's priority needs no right.
  ::setpriority(PRIO_PROCESS, id_t(::gettid()), kPublisherNice);
  std::unique_ptr<AmqpConnection> connection;
  // Gone before the connection is: nothing cuts it once it is destroyed.
  const std::stop_callback cutOnStop(stop, [this] {
    std::lock_guard lock(m_watchedMutex);
    if (m_watched) m_watched->Cut();
  });
  bool lossTold = false;
  QString problem;
  while (!stop.stop_requested()) {
    if (!connection) {
      connection = Connect(stop, &problem);
      if (!connection) {
        if (!std::exchange(lossTold, true)) emit ConnectionLost(problem);
        WaitBeforeRetry(stop);
        continue;
      }
      lossTold = false;
      emit Connected();
    }
    const QList<Outbox::WaitingRecord> batch =
        m_outbox->WaitForOldest(stop, kBatchRecords, kBatchBytes);
    if (batch.isEmpty()) break;
    if (!PublishBatch(*connection, batch, stop, &problem)) {
      Watch(nullptr);
      connection.reset();
      if (stop.stop_requested()) break;
      emit ConnectionLost(problem);
      lossTold = true;
      WaitBeforeRetry(stop);
    }
  }
}

bool AmqpPublisher::PublishBatch(AmqpConnection& connection,
                                 const QList<Outbox::WaitingRecord>& batch, std::stop_token stop,
                                 QString* problem) {
  BatchConfirmations confirmations(m_deliveryTag + 1, batch.size());
  // One system call per frame is rabbitmq-c's; on loopback each small
  // segment would also cost the broker's side of the stack on this thread.
  connection.Cork(true);
  for (const Outbox::WaitingRecord& record : batch) {
    if (!Publish(connection, record, problem)) return false;
    ++m_deliveryTag;
  }
  connection.Cork(false);
  const bool answered = AwaitConfirmations(connection, confirmations, stop, problem);
  // What the broker took leaves the outbox even when the connection went
  // meanwhile; the rest is published again, the refused event first.
  const qsizetype taken = confirmations.AcknowledgedFromFirst();
  if (taken > 0) {
    m_outbox->AcknowledgeThrough(batch[taken - 1].sequence);
    m_retryWait = m_timing.firstRetry;
  }
  if (!answered) return false;
  // The broker could not take it for now; the connection is still good.
  if (confirmations.AnyRefused()) WaitBeforeRetry(stop);
  return true;
}

bool AmqpPublisher::Publish(AmqpConnection& connection, const Outbox::WaitingRecord& record,
                            QString* problem) {
  // Checked when appended or recovered.
  const EventMessage message = *EventMessage::FromRecord(record.payload, m_relayName);
  const QByteArray messageId = m_messageIdPrefix + QByteArray::number(record.sequence);
  amqp_basic_properties_t properties{};
  properties._flags =
      AMQP_BASIC_CONTENT_TYPE_FLAG | AMQP_BASIC_DELIVERY_MODE_FLAG | AMQP_BASIC_MESSAGE_ID_FLAG;
  properties.content_type = amqp_cstring_bytes("application/json");
  properties.delivery_mode = AMQP_DELIVERY_PERSISTENT;
  properties.message_id = AmqpBytes(messageId);
  const int status =
      amqp_basic_publish(connection.Handle(), AmqpConnection::kChannel, AmqpBytes(m_exchange),
                         AmqpBytes(message.routingKey), 0, 0, &properties, AmqpBytes(message.body));
  if (status == AMQP_STATUS_OK) return true;
  connection.Fail("cannot publish", status);
  *problem = connection.ErrorString();
  return false;
}

bool AmqpPublisher::AwaitConfirmations(AmqpConnection& connection,
                                       BatchConfirmations& confirmations, std::stop_token stop,
                                       QString* problem) {
  auto giveUpAt = std::chrono::steady_clock::now() + m_timing.brokerTimeout;
  while (!confirmations.AllAnswered()) {
    if (stop.stop_requested() || std::chrono::steady_clock::now() >= giveUpAt) {
      *problem = QStringLiteral("no confirmation from the broker");
      return false;
    }
    // The last frame's decoded method lives in these buffers until now.
    amqp_maybe_release_buffers(connection.Handle());
    timeval wait{0, suseconds_t(std::chrono::microseconds(kStopCheck).count())};
    amqp_frame_t frame;
    const int status = amqp_simple_wait_frame_noblock(connection.Handle(), &frame, &wait);
    if (status == AMQP_STATUS_TIMEOUT) continue;
    if (status != AMQP_STATUS_OK) {
      connection.Fail("connection lost", status);
      *problem = connection.ErrorString();
      return false;
    }
    if (frame.frame_type != AMQP_FRAME_METHOD) continue;
    switch (frame.payload.method.id) {
      case AMQP_BASIC_ACK_METHOD: {
        const auto* ack = static_cast<const amqp_basic_ack_t*>(frame.payload.method.decoded);
        confirmations.Acknowledged(ack->delivery_tag, ack->multiple);
        break;
      }
      case AMQP_BASIC_NACK_METHOD: {
        const auto* nack = static_cast<const amqp_basic_nack_t*>(frame.payload.method.decoded);
        confirmations.Refused(nack->delivery_tag, nack->multiple);
        break;
      }
      case AMQP_CHANNEL_CLOSE_METHOD:
      case AMQP_CONNECTION_CLOSE_METHOD:
        *problem = QStringLiteral("the broker closed the connection");
        return false;
      default:
        continue;
    }
    // A broker that answers is alive, however long the whole batch takes.
    giveUpAt = std::chrono::steady_clock::now() + m_timing.brokerTimeout;
  }
  return true;
}
