#include "core/telephony/networktelcontrol.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <algorithm>
#include <optional>
#include <utility>

#include "core/text/cp949.h"
#include "core/text/eventtext.h"

namespace {

// Exactly four decimal parts of 0 to 255. QHostAddress alone would also take
// "10.1" or octal parts, which the sign-in dialog never shows.
std::optional<QHostAddress> ParseDottedIPv4(const QByteArray& text) {
  const QList<QByteArray> parts = text.split('.');
  if (parts.size() != 4) {
    return std::nullopt;
  }
  quint32 address = 0;
  for (const QByteArray& part : parts) {
    if (part.isEmpty() || part.size() > 3 ||
        !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    const uint value = part.toUInt();
    if (value > 255) {
      return std::nullopt;
    }
    address = (address << 8) | value;
  }
  return QHostAddress(address);
}

}  // namespace

NetworkTelControl::NetworkTelControl(int controlId, quint16 port, int signInTimeoutMs,
                                     QObject* parent)
    : CTelBaseOpenApi(controlId, parent), m_nPort(port) {
  m_signInTimer.setSingleShot(true);
  m_signInTimer.setInterval(signInTimeoutMs);
  connect(&m_signInTimer, &QTimer::timeout, this, &NetworkTelControl::OnSignInTimeout);
}

bool NetworkTelControl::IsLoggedIn() {
  return m_pSocket && m_pSocket->state() == QAbstractSocket::ConnectedState && m_bSignedIn;
}

void NetworkTelControl::Logout() {
  if (m_pSocket && m_pSocket->state() == QAbstractSocket::ConnectedState) {
    // Let the sign-out line go out before the close; the socket cleans up after itself.
    QTcpSocket* socket = std::exchange(m_pSocket, nullptr);
    socket->disconnect(this);
    socket->write(EncodeTelLine({kTelLogout.toByteArray()}));
    // Handed to the system now: at shutdown no event loop runs to send it later.
    socket->flush();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
  }
  DropConnection();
}

bool NetworkTelControl::LoginDCS(const QByteArray& id, const QByteArray& pwd,
                                 const QByteArray& serverAddress) {
  return SignIn(kTelLoginDcs, id, pwd, serverAddress);
}

bool NetworkTelControl::Login(const QByteArray& id, const QByteArray& pwd,
                              const QByteArray& serverAddress) {
  return SignIn(kTelLogin, id, pwd, serverAddress);
}

bool NetworkTelControl::SignIn(QByteArrayView kind, const QByteArray& id, const QByteArray& pwd,
                               const QByteArray& serverAddress) {
  const std::optional<QHostAddress> host = ParseDottedIPv4(serverAddress);
  if (!host) {
    return false;
  }
  DropConnection();
  m_signInLine =
      EncodeTelLine({kind.toByteArray(), FromCp949(id).toUtf8(), FromCp949(pwd).toUtf8()});
  m_pSocket = new QTcpSocket(this);
  connect(m_pSocket, &QTcpSocket::connected, this, &NetworkTelControl::OnConnected);
  connect(m_pSocket, &QTcpSocket::readyRead, this, &NetworkTelControl::OnReadyRead);
  connect(m_pSocket, &QTcpSocket::errorOccurred, this,
          [this] { OnConnectionLost(m_pSocket->errorString()); });
  connect(m_pSocket, &QTcpSocket::disconnected, this,
          [this] { OnConnectionLost(QStringLiteral("Connection closed")); });
  m_bAwaitingResult = true;
  m_signInTimer.start();
  m_pSocket->connectToHost(*host, m_nPort);
  return true;
}

void NetworkTelControl::OnConnected() { m_pSocket->write(m_signInLine); }

void NetworkTelControl::OnReadyRead() {
  QTcpSocket* socket = m_pSocket;
  const QList<QByteArray> lines = m_reader.Feed(socket->readAll());
  for (const QByteArray& line : lines) {
    if (!DispatchLine(line)) {
      return;
    }
  }
}

void NetworkTelControl::OnConnectionLost(const QString& reason) {
  // Whole lines that came before the close still count.
  QTcpSocket* socket = m_pSocket;
  QPointer<NetworkTelControl> alive(this);
  OnReadyRead();
  if (!alive || m_pSocket != socket) {
    return;
  }
  // A sign-in always gets an outcome, and losing a signed-in link is news too.
  const bool report = m_bAwaitingResult || m_bSignedIn;
  DropConnection();
  if (report) {
    PostSignInFailure(reason);
  }
}

void NetworkTelControl::OnSignInTimeout() {
  DropConnection();
  PostSignInFailure(QStringLiteral("No answer from the telephony server"));
}

bool NetworkTelControl::DispatchLine(const QByteArray& line) {
  const std::optional<QList<QByteArray>> fields = DecodeTelLine(line);
  if (!fields || fields->size() < 2 || fields->at(0) != kTelEvent) {
    return true;
  }
  const QByteArray& name = fields->at(1);
  // A line without a text field carries a null text.
  const QString text = fields->size() > 2 ? DecodeTelText(fields->at(2)) : QString();
  const QTcpSocket* socket = m_pSocket;
  QPointer<NetworkTelControl> alive(this);
  if (name == kTelLoginResult) {
    m_signInTimer.stop();
    m_bAwaitingResult = false;
    m_bSignedIn = LoginSucceeded(text.toUtf8());
    emit LoginResult(ControlId(), text);
  } else if (name == kTelRing) {
    emit Ring(ControlId(), text);
  } else if (name == kTelHangUp) {
    emit HangUp(ControlId(), text);
  } else if (name == kTelCallEnd) {
    emit CallEnd(ControlId(), text);
  }
  return alive && m_pSocket == socket;
}

void NetworkTelControl::DropConnection() {
  ++m_nGeneration;
  m_signInTimer.stop();
  m_bAwaitingResult = false;
  m_bSignedIn = false;
  m_reader.Reset();
  if (m_pSocket) {
    // Deferred: this may run inside one of the socket's own signals.
    QTcpSocket* socket = std::exchange(m_pSocket, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
  }
}

void NetworkTelControl::PostSignInFailure(const QString& reason) {
  // The reason must not end the MSG value early or pose as an extension before a ",".
  QString message = reason;
  message.replace(QLatin1Char(','), QLatin1Char(' ')).replace(QLatin1Char('|'), QLatin1Char(' '));
  const QString text = QStringLiteral("RESULT:LOGIN|STATUS:0|MSG:%1|").arg(message);
  // Queued, so that the outcome never reaches the caller before Login has returned.
  QMetaObject::invokeMethod(
      this,
      [this, generation = m_nGeneration, text] {
        if (generation == m_nGeneration) {
          emit LoginResult(ControlId(), text);
        }
      },
      Qt::QueuedConnection);
}

TelControlFactory NetworkTelControlFactory(quint16 port) {
  return [port](int controlId) -> std::unique_ptr<CTelBaseOpenApi> {
    return std::make_unique<NetworkTelControl>(controlId, port);
  };
}
