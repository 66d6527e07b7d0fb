#include "tools/amibridge/amiconnection.h"

#include <QCryptographicHash>
#include <algorithm>
#include <utility>

namespace {

const QByteArray kChallengeId = "tarvex-challenge";
const QByteArray kLoginId = "tarvex-login";
const QByteArray kPingId = "tarvex-ping";

}  // namespace

AmiConnection::AmiConnection(AmiEndpoint endpoint, AmiTiming timing, QObject* parent)
    : QObject(parent),
      m_endpoint(std::move(endpoint)),
      m_timing(timing),
      m_nRetryMs(timing.firstRetryMs) {
  m_retryTimer.setSingleShot(true);
  m_replyTimer.setSingleShot(true);
  m_pingTimer.setSingleShot(true);
  connect(&m_retryTimer, &QTimer::timeout, this, &AmiConnection::Connect);
  connect(&m_pingTimer, &QTimer::timeout, this, &AmiConnection::SendPing);
  connect(&m_replyTimer, &QTimer::timeout, this,
          [this] { Fail(QStringLiteral("no answer from the PBX")); });
  connect(&m_socket, &QTcpSocket::connected, this, &AmiConnection::OnConnected);
  connect(&m_socket, &QTcpSocket::readyRead, this, &AmiConnection::OnReadyRead);
  connect(&m_socket, &QTcpSocket::disconnected, this,
          [this] { Fail(QStringLiteral("the PBX closed the connection")); });
  connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
    Fail(QStringLiteral("connection: %1").arg(m_socket.errorString()));
  });
}

AmiConnection::~AmiConnection() {
  // The socket, destroyed after the timers, reports its close: nobody must hear it.
  m_socket.disconnect(this);
}

void AmiConnection::Start() {
  if (m_state == State::Stopped) {
    Connect();
  }
}

void AmiConnection::Stop() {
  m_state = State::Stopped;
  m_retryTimer.stop();
  m_pingTimer.stop();
  m_replyTimer.stop();
  m_socket.abort();
}

bool AmiConnection::Send(const AmiMessage& action) {
  if (m_state != State::Up) {
    return false;
  }
  Write(action);
  return true;
}

void AmiConnection::Connect() {
  m_socket.abort();
  m_state = State::Connecting;
  m_parser.Reset();
  m_replyTimer.start(m_timing.replyTimeoutMs);
  m_socket.connectToHost(m_endpoint.host, m_endpoint.port);
}

void AmiConnection::OnConnected() {
  // A PBX that vanishes without a word is found by the pings, a dead route
  // meanwhile by the system.
  m_socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
  m_state = State::Challenging;
  Write(AmiAction({{"Action", "Challenge"}, {"ActionID", kChallengeId}, {"AuthType", "MD5"}}));
}

void AmiConnection::OnReadyRead() {
  const QList<AmiMessage> messages = m_parser.Feed(m_socket.readAll());
  if (const int dropped = m_parser.TakeDroppedBlocks(); dropped > 0) {
    emit Warning(QStringLiteral("%1 oversized AMI block(s) dropped").arg(dropped));
  }
  // Anything from the PBX shows the link is alive.
  if (m_state == State::Up) {
    m_replyTimer.stop();
    m_pingTimer.start(m_timing.pingIntervalMs);
  }
  for (const AmiMessage& message : messages) {
    if (message.Has("Response")) {
      OnResponse(message);
    } else if (m_state == State::Up && message.Has("Event")) {
      emit EventReceived(message);
    }
    if (m_state == State::Stopped || m_state == State::Waiting) {
      return;
    }
  }
}

void AmiConnection::OnResponse(const AmiMessage& response) {
  const QByteArray actionId = response.Value("ActionID");
  const bool success = response.Value("Response").compare("Success", Qt::CaseInsensitive) == 0;
  if (m_state == State::Challenging && actionId == kChallengeId) {
    const QByteArray challenge = success ? response.Value("Challenge") : QByteArray();
    if (challenge.isEmpty() && !m_endpoint.allowPlainSecret) {
      Fail(
          QStringLiteral("the PBX refused the MD5 challenge; the secret is not sent in clear "
                         "text unless [ami] allow_plain_secret is set"));
      return;
    }
    SendLogin(challenge);
  } else if (m_state == State::LoggingIn && actionId == kLoginId) {
    if (!success) {
      Fail(QStringLiteral("login refused: %1").arg(QString::fromUtf8(response.Value("Message"))));
      return;
    }
    m_state = State::Up;
    m_nRetryMs = m_timing.firstRetryMs;
    m_replyTimer.stop();
    m_pingTimer.start(m_timing.pingIntervalMs);
    emit Up();
  }
}

void AmiConnection::SendLogin(const QByteArray& challenge) {
  m_state = State::LoggingIn;
  AmiMessage login = AmiAction({{"Action", "Login"},
                                {"ActionID", kLoginId},
                                {"Username", m_endpoint.user},
                                {"Events", "call,agent"}});
  if (challenge.isEmpty()) {
    login.Append("Secret", m_endpoint.secret);
  } else {
    login.Append("AuthType", "MD5");
    login.Append(
        "Key",
        QCryptographicHash::hash(challenge + m_endpoint.secret, QCryptographicHash::Md5).toHex());
  }
  Write(login);
}

void AmiConnection::Fail(const QString& reason) {
  if (m_state == State::Stopped || m_state == State::Waiting) {
    return;
  }
  m_state = State::Waiting;
  m_pingTimer.stop();
  m_replyTimer.stop();
  m_socket.abort();
  m_retryTimer.start(m_nRetryMs);
  m_nRetryMs = std::min(m_nRetryMs * 2, m_timing.maxRetryMs);
  emit Down(reason);
}

void AmiConnection::SendPing() {
  Write(AmiAction({{"Action", "Ping"}, {"ActionID", kPingId}}));
  m_replyTimer.start(m_timing.replyTimeoutMs);
}

void AmiConnection::Write(const AmiMessage& action) { m_socket.write(action.Encode()); }
