#include "core/stream/amqpconnection.h"

#include <amqp_ssl_socket.h>
#include <amqp_tcp_socket.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace {

// The largest frame asked for; bodies above it go in several frames.
constexpr int kFrameMax = 131072;

timeval ToTimeval(std::chrono::milliseconds duration) {
  return timeval{time_t(duration.count() / 1000), suseconds_t(duration.count() % 1000 * 1000)};
}

QString ServerText(const amqp_bytes_t& text) {
  return QString::fromUtf8(static_cast<const char*>(text.bytes), qsizetype(text.len));
}

}  // namespace

amqp_bytes_t AmqpBytes(const QByteArray& bytes) {
  return amqp_bytes_t{size_t(bytes.size()), const_cast<char*>(bytes.constData())};
}

AmqpConnection::AmqpConnection() : m_state(amqp_new_connection()) {}

AmqpConnection::~AmqpConnection() {
  // A closing handshake could wait on a dead broker: the socket just goes.
  amqp_destroy_connection(m_state);
}

void AmqpConnection::Cut() {
  std::lock_guard lock(m_cutMutex);
  m_cut = true;
  if (m_socket >= 0) ::shutdown(m_socket, SHUT_RDWR);
}

void AmqpConnection::Cork(bool corked) {
  const int value = corked ? 1 : 0;
  ::setsockopt(m_socket, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

bool AmqpConnection::Fail(const char* what, int status) {
  m_error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                         QString::fromUtf8(amqp_error_string2(status)));
  return false;
}

bool AmqpConnection::CheckReply(const char* what) {
  return Check(amqp_get_rpc_reply(m_state), what);
}

bool AmqpConnection::Check(const amqp_rpc_reply_t& reply, const char* what) {
  switch (reply.reply_type) {
    case AMQP_RESPONSE_NORMAL:
      return true;
    case AMQP_RESPONSE_LIBRARY_EXCEPTION:
      return Fail(what, reply.library_error);
    case AMQP_RESPONSE_SERVER_EXCEPTION:
    case AMQP_RESPONSE_NONE:
      break;
  }
  QString server = QStringLiteral("no reply");
  if (reply.reply_type == AMQP_RESPONSE_SERVER_EXCEPTION &&
      reply.reply.id == AMQP_CONNECTION_CLOSE_METHOD) {
    const auto* close = static_cast<const amqp_connection_close_t*>(reply.reply.decoded);
    server = QStringLiteral("%1 %2").arg(close->reply_code).arg(ServerText(close->reply_text));
  } else if (reply.reply_type == AMQP_RESPONSE_SERVER_EXCEPTION &&
             reply.reply.id == AMQP_CHANNEL_CLOSE_METHOD) {
    const auto* close = static_cast<const amqp_channel_close_t*>(reply.reply.decoded);
    server = QStringLiteral("%1 %2").arg(close->reply_code).arg(ServerText(close->reply_text));
  }
  m_error = QStringLiteral("%1: %2").arg(QLatin1String(what), server);
  return false;
}

bool AmqpConnection::Open(const AmqpSettings& settings, std::chrono::milliseconds timeout) {
  amqp_socket_t* socket =
      settings.tls ? amqp_ssl_socket_new(m_state) : amqp_tcp_socket_new(m_state);
  if (!socket) return Fail("cannot make a socket", AMQP_STATUS_NO_MEMORY);
  if (settings.tls) {
    amqp_ssl_socket_set_verify_peer(socket, 1);
    amqp_ssl_socket_set_verify_hostname(socket, 1);
    if (!settings.caFile.isEmpty()) {
      const int status =
          amqp_ssl_socket_set_cacert(socket, settings.caFile.toLocal8Bit().constData());
      if (status != AMQP_STATUS_OK) return Fail("cannot read the CA file", status);
    }
  }
  timeval wait = ToTimeval(timeout);
  amqp_set_handshake_timeout(m_state, &wait);
  amqp_set_rpc_timeout(m_state, &wait);
  const int opened =
      amqp_socket_open_noblock(socket, settings.host.toUtf8().constData(), settings.port, &wait);
  if (opened != AMQP_STATUS_OK) return Fail("cannot connect", opened);
  {
    std::lock_guard lock(m_cutMutex);
    if (m_cut) return Fail("cut short", AMQP_STATUS_SOCKET_CLOSED);
    m_socket = amqp_get_sockfd(m_state);
  }
  // A broker that stops reading must not hold a publish for ever.
  ::setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  const amqp_rpc_reply_t login =
      amqp_login(m_state, settings.virtualHost.toUtf8().constData(), 0, kFrameMax, 0,
                 AMQP_SASL_METHOD_PLAIN, settings.user.constData(), settings.password.constData());
  if (!Check(login, "login refused")) return false;
  amqp_channel_open(m_state, kChannel);
  if (!CheckReply("cannot open a channel")) return false;
  amqp_exchange_declare(m_state, kChannel, AmqpBytes(settings.exchange.toUtf8()),
                        amqp_cstring_bytes("topic"), 0, 1, 0, 0, amqp_empty_table);
  return CheckReply("cannot declare the exchange");
}
