// tarvex-events: prints the call events a relay publishes, one JSON object
// per line, as the broker delivers them.
#include <signal.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "core/stream/amqpconnection.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

constexpr std::chrono::milliseconds kBrokerTimeout{10000};
constexpr std::chrono::milliseconds kFirstRetry{500};
constexpr std::chrono::milliseconds kLongestRetry{30000};
constexpr std::chrono::milliseconds kStopCheck{200};
constexpr uint16_t kPrefetch = 100;

struct Options {
  AmqpSettings broker = AmqpSettings::WithEnvironmentCredentials();
  QStringList patterns;
  QByteArray queue;  // empty: a queue of the broker's naming, for this run only
  bool envelope = false;
};

// A raw line break would split a message over lines; in JSON it can only
// stand between tokens, where a blank means the same.
QByteArray OneLine(QByteArray body) { return body.replace('\n', ' ').replace('\r', ' '); }

void Print(const amqp_envelope_t& envelope, bool withEnvelope) {
  const QByteArray body(static_cast<const char*>(envelope.message.body.bytes),
                        qsizetype(envelope.message.body.len));
  QByteArray line = OneLine(body);
  if (withEnvelope) {
    const amqp_basic_properties_t& properties = envelope.message.properties;
    const QByteArray id = (properties._flags & AMQP_BASIC_MESSAGE_ID_FLAG)
                              ? QByteArray(static_cast<const char*>(properties.message_id.bytes),
                                           qsizetype(properties.message_id.len))
                              : QByteArray();
    const QByteArray key(static_cast<const char*>(envelope.routing_key.bytes),
                         qsizetype(envelope.routing_key.len));
    QJsonObject object{{QStringLiteral("messageId"), QString::fromUtf8(id)},
                       {QStringLiteral("routingKey"), QString::fromUtf8(key)},
                       {QStringLiteral("redelivered"), bool(envelope.redelivered)}};
    const QJsonDocument event = QJsonDocument::fromJson(body);
    if (event.isObject()) {
      object.insert(QStringLiteral("event"), event.object());
    } else {
      object.insert(QStringLiteral("body"), QString::fromUtf8(body));
    }
    line = QJsonDocument(object).toJson(QJsonDocument::Compact);
  }
  line += '\n';
  std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
  std::fflush(stdout);
}

// Declares the queue, binds it and starts consuming; false with the reason.
bool Subscribe(AmqpConnection& connection, const Options& options) {
  amqp_connection_state_t state = connection.Handle();
  const amqp_channel_t channel = AmqpConnection::kChannel;
  amqp_queue_declare_ok_t* declared = nullptr;
  if (options.queue.isEmpty()) {
    declared = amqp_queue_declare(state, channel, amqp_empty_bytes, 0, 0, 1, 1, amqp_empty_table);
  } else {
    // A quorum queue keeps its messages when a node of a cluster goes.
    amqp_table_entry_t type{amqp_cstring_bytes("x-queue-type"), {}};
    type.value.kind = AMQP_FIELD_KIND_UTF8;
    type.value.value.bytes = amqp_cstring_bytes("quorum");
    declared = amqp_queue_declare(state, channel, AmqpBytes(options.queue), 0, 1, 0, 0,
                                  amqp_table_t{1, &type});
  }
  if (!connection.CheckReply("cannot declare the queue") || !declared) return false;
  const QByteArray queue(static_cast<const char*>(declared->queue.bytes),
                         qsizetype(declared->queue.len));
  const QByteArray exchange = options.broker.exchange.toUtf8();
  for (const QString& pattern : options.patterns) {
    amqp_queue_bind(state, channel, AmqpBytes(queue), AmqpBytes(exchange),
                    AmqpBytes(pattern.toUtf8()), amqp_empty_table);
    if (!connection.CheckReply("cannot bind the queue")) return false;
  }
  amqp_basic_qos(state, channel, 0, kPrefetch, 0);
  if (!connection.CheckReply("cannot set the prefetch")) return false;
  amqp_basic_consume(state, channel, AmqpBytes(queue), amqp_empty_bytes, 0, 0, 0, amqp_empty_table);
  return connection.CheckReply("cannot consume");
}

// Prints until stopped or the connection is lost; false on a loss.
bool Consume(AmqpConnection& connection, bool withEnvelope) {
  amqp_connection_state_t state = connection.Handle();
  while (!stopRequested) {
    amqp_maybe_release_buffers(state);
    amqp_envelope_t envelope;
    timeval wait{0, suseconds_t(std::chrono::microseconds(kStopCheck).count())};
    const amqp_rpc_reply_t reply = amqp_consume_message(state, &envelope, &wait, 0);
    if (reply.reply_type == AMQP_RESPONSE_LIBRARY_EXCEPTION &&
        reply.library_error == AMQP_STATUS_TIMEOUT) {
      continue;
    }
    if (reply.reply_type != AMQP_RESPONSE_NORMAL) {
      connection.Fail("connection lost", reply.reply_type == AMQP_RESPONSE_LIBRARY_EXCEPTION
                                             ? reply.library_error
                                             : AMQP_STATUS_CONNECTION_CLOSED);
      return false;
    }
    Print(envelope, withEnvelope);
    const int acked = amqp_basic_ack(state, AmqpConnection::kChannel, envelope.delivery_tag, 0);
    amqp_destroy_envelope(&envelope);
    if (acked != AMQP_STATUS_OK) return connection.Fail("cannot acknowledge", acked);
  }
  return true;
}

void SleepUnlessStopped(std::chrono::milliseconds duration) {
  for (auto slept = std::chrono::milliseconds(0); slept < duration && !stopRequested;
       slept += kStopCheck) {
    std::this_thread::sleep_for(kStopCheck);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tarvex-events"));
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Prints the call events Tarvex relays publish, one JSON object per line.\n"
                     "Credentials: TARVEX_AMQP_USER and TARVEX_AMQP_PASSWORD (default guest)."));
  parser.addHelpOption();
  const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Broker host."),
                                QStringLiteral("host"), QStringLiteral("localhost"));
  const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Broker port."),
                                QStringLiteral("port"), QStringLiteral("5672"));
  const QCommandLineOption vhost(QStringLiteral("vhost"), QStringLiteral("Virtual host."),
                                 QStringLiteral("vhost"), QStringLiteral("/"));
  const QCommandLineOption exchange(QStringLiteral("exchange"), QStringLiteral("Exchange."),
                                    QStringLiteral("name"), QStringLiteral("tarvex.calls"));
  const QCommandLineOption bind(
      QStringLiteral("bind"),
      QStringLiteral("Routing-key pattern <relay>.<extension>.<ring|answer|end>, "
                     "e.g. *.301.*; repeatable (default #)."),
      QStringLiteral("pattern"));
  const QCommandLineOption queue(
      QStringLiteral("queue"),
      QStringLiteral("A durable quorum queue of this name, kept between runs "
                     "(default: a queue for this run only)."),
      QStringLiteral("name"));
  const QCommandLineOption tls(QStringLiteral("tls"), QStringLiteral("Connect with TLS."));
  const QCommandLineOption caFile(QStringLiteral("cafile"),
                                  QStringLiteral("Trusted certificates for TLS (PEM)."),
                                  QStringLiteral("file"));
  const QCommandLineOption envelope(
      QStringLiteral("envelope"),
      QStringLiteral("Print {messageId, routingKey, redelivered, event} instead of the body."));
  parser.addOptions({host, port, vhost, exchange, bind, queue, tls, caFile, envelope});
  parser.process(app);

  Options options;
  options.broker.host = parser.value(host);
  bool portOk = false;
  const uint portNumber = parser.value(port).toUInt(&portOk);
  if (!portOk || portNumber == 0 || portNumber > 65535) {
    std::fprintf(stderr, "tarvex-events: bad port %s\n", qPrintable(parser.value(port)));
    return 2;
  }
  options.broker.port = quint16(portNumber);
  options.broker.virtualHost = parser.value(vhost);
  options.broker.exchange = parser.value(exchange);
  options.broker.tls = parser.isSet(tls);
  options.broker.caFile = parser.value(caFile);
  options.patterns = parser.isSet(bind) ? parser.values(bind) : QStringList{QStringLiteral("#")};
  options.queue = parser.value(queue).toUtf8();
  options.envelope = parser.isSet(envelope);

  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::chrono::milliseconds retry = kFirstRetry;
  while (!stopRequested) {
    AmqpConnection connection;
    if (connection.Open(options.broker, kBrokerTimeout) && Subscribe(connection, options)) {
      retry = kFirstRetry;
      std::fprintf(stderr, "tarvex-events: consuming from %s:%u\n", qPrintable(options.broker.host),
                   portNumber);
      if (Consume(connection, options.envelope)) break;
    }
    std::fprintf(stderr, "tarvex-events: %s; trying again\n", qPrintable(connection.ErrorString()));
    SleepUnlessStopped(retry);
    retry = std::min(retry * 2, kLongestRetry);
  }
  return 0;
}
