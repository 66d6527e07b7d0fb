#include "core/stream/amqppublisher.h"

#include <pthread.h>

#include <condition_variable>
#include <csignal>
#include <mutex>

#include "core/outbox/outbox.h"
#include "core/stream/amqpconnection.h"
#include "core/stream/eventmessage.h"

namespace {

// How often a wait for the broker looks whether it should stop.
constexpr std::chrono::milliseconds kStopCheck{200};

}  // namespace

AmqpPublisher::AmqpPublisher(std::shared_ptr<Outbox> outbox, AmqpSettings settings,
                             QString relayName, Timing timing, QObject* parent)
    : QObject(parent),
      m_outbox(std::move(outbox)),
      m_settings(std::move(settings)),
      m_relayName(relayName.toUtf8()),
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
    const std::optional<Outbox::WaitingRecord> first = m_outbox->WaitForFirst(stop);
    if (!first) break;
    if (!Publish(*connection, first->sequence, first->payload, stop, &problem)) {
      Watch(nullptr);
      connection.reset();
      if (stop.stop_requested()) break;
      emit ConnectionLost(problem);
      lossTold = true;
      WaitBeforeRetry(stop);
    }
  }
}

bool AmqpPublisher::Publish(AmqpConnection& connection, quint64 sequence, const QByteArray& payload,
                            std::stop_token stop, QString* problem) {
  // Checked when appended or recovered.
  const EventMessage message = *EventMessage::Decode(payload);
  const QByteArray messageId = m_relayName + '-' + QByteArray::number(sequence);
  amqp_basic_properties_t properties{};
  properties._flags =
      AMQP_BASIC_CONTENT_TYPE_FLAG | AMQP_BASIC_DELIVERY_MODE_FLAG | AMQP_BASIC_MESSAGE_ID_FLAG;
  properties.content_type = amqp_cstring_bytes("application/json");
  properties.delivery_mode = AMQP_DELIVERY_PERSISTENT;
  properties.message_id = AmqpBytes(messageId);
  const int status = amqp_basic_publish(
      connection.Handle(), AmqpConnection::kChannel, AmqpBytes(m_settings.exchange.toUtf8()),
      AmqpBytes(message.routingKey), 0, 0, &properties, AmqpBytes(message.body));
  if (status != AMQP_STATUS_OK) {
    connection.Fail("cannot publish", status);
    *problem = connection.ErrorString();
    return false;
  }
  switch (AwaitConfirmation(connection, ++m_deliveryTag, stop, problem)) {
    case Confirmation::Acknowledged:
      m_outbox->Acknowledge(sequence);
      m_retryWait = m_timing.firstRetry;
      return true;
    case Confirmation::Refused:
      // The broker could not take it for now; the connection is still good.
      WaitBeforeRetry(stop);
      return true;
    case Confirmation::Lost:
      break;
  }
  return false;
}

AmqpPublisher::Confirmation AmqpPublisher::AwaitConfirmation(AmqpConnection& connection,
                                                             quint64 deliveryTag,
                                                             std::stop_token stop,
                                                             QString* problem) {
  const auto giveUpAt = std::chrono::steady_clock::now() + m_timing.brokerTimeout;
  while (!stop.stop_requested() && std::chrono::steady_clock::now() < giveUpAt) {
    timeval wait{0, suseconds_t(std::chrono::microseconds(kStopCheck).count())};
    amqp_frame_t frame;
    const int status = amqp_simple_wait_frame_noblock(connection.Handle(), &frame, &wait);
    if (status == AMQP_STATUS_TIMEOUT) continue;
    if (status != AMQP_STATUS_OK) {
      connection.Fail("connection lost", status);
      *problem = connection.ErrorString();
      return Confirmation::Lost;
    }
    amqp_maybe_release_buffers(connection.Handle());
    if (frame.frame_type != AMQP_FRAME_METHOD) continue;
    // An answer with `multiple` covers every delivery up to its tag.
    const auto covers = [deliveryTag](uint64_t tag, amqp_boolean_t multiple) {
      return tag == deliveryTag || (multiple && tag > deliveryTag);
    };
    switch (frame.payload.method.id) {
      case AMQP_BASIC_ACK_METHOD: {
        const auto* ack = static_cast<const amqp_basic_ack_t*>(frame.payload.method.decoded);
        if (covers(ack->delivery_tag, ack->multiple)) return Confirmation::Acknowledged;
        break;
      }
      case AMQP_BASIC_NACK_METHOD: {
        const auto* nack = static_cast<const amqp_basic_nack_t*>(frame.payload.method.decoded);
        if (covers(nack->delivery_tag, nack->multiple)) return Confirmation::Refused;
        break;
      }
      case AMQP_CHANNEL_CLOSE_METHOD:
      case AMQP_CONNECTION_CLOSE_METHOD:
        *problem = QStringLiteral("the broker closed the connection");
        return Confirmation::Lost;
      default:
        break;
    }
  }
  *problem = QStringLiteral("no confirmation from the broker");
  return Confirmation::Lost;
}
