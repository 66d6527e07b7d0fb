#include "tools/telsim/telephonyserver.h"

#include <QDateTime>
#include <QTcpSocket>
#include <algorithm>
#include <utility>

#include "core/text/cp949.h"
#include "core/text/eventtext.h"
#include "tools/telsim/servertexts.h"

TelephonyServer::TelephonyServer(QObject* parent)
    : QObject(parent),
      m_acceptPause({&m_server},
                    [this](const QByteArray& line) { emit AcceptingChanged(FromCp949(line)); }),
      m_nStartSecs(QDateTime::currentSecsSinceEpoch()) {
  // Taken after Qt's accept pass rather than within it: Qt stops a pass once
  // 30 wait untaken, while one that finds them all taken goes on accepting a
  // flood to the last descriptor, past the reserve of the accept pause.
  connect(&m_server, &QTcpServer::newConnection, this, &TelephonyServer::OnNewConnection,
          Qt::QueuedConnection);
}

TelephonyServer::~TelephonyServer() {
  // The sockets die with m_server and report their close; nobody must hear it.
  for (QTcpSocket* socket : m_links.keys()) {
    socket->disconnect(this);
  }
}

bool TelephonyServer::Listen(quint16 port, const QHostAddress& address) {
  return m_server.listen(address, port);
}

quint16 TelephonyServer::Port() const { return m_server.serverPort(); }

QString TelephonyServer::ErrorString() const { return m_server.errorString(); }

void TelephonyServer::Close() {
  m_server.close();
  const QList<QTcpSocket*> sockets = m_links.keys();
  for (QTcpSocket* socket : sockets) {
    SignOut(socket);
    if (m_links.contains(socket)) {
      socket->disconnectFromHost();
    }
  }
}

void TelephonyServer::AddAccount(const TelAccount& account) { m_accounts[account.id] = account; }

QList<TelAccount> TelephonyServer::Accounts() const { return m_accounts.values(); }

bool TelephonyServer::IsSignedIn(const QString& accountId) const {
  return std::any_of(m_links.cbegin(), m_links.cend(), [&](const Link& link) {
    return link.signedIn && link.accountId == accountId;
  });
}

QStringList TelephonyServer::SignedInAccounts() const {
  QStringList ids;
  for (const Link& link : m_links) {
    if (link.signedIn && !ids.contains(link.accountId)) {
      ids.append(link.accountId);
    }
  }
  ids.sort();
  return ids;
}

int TelephonyServer::ConnectionCount() const { return static_cast<int>(m_links.size()); }

void TelephonyServer::SetOutage(const QString& reason) {
  if (reason == m_outageReason) {
    return;
  }
  m_outageReason = reason;
  // A handler of the signals below may close connections: walk a copy.
  const QList<QTcpSocket*> sockets = m_links.keys();
  for (QTcpSocket* socket : sockets) {
    const auto link = m_links.find(socket);
    if (link == m_links.end() || !link->accepted) {
      continue;
    }
    const QString accountId = link->accountId;
    const bool wasSignedIn = std::exchange(link->signedIn, reason.isEmpty());
    SendLoginResult(socket, LoginReply(accountId, m_accounts.value(accountId).password));
    if (!wasSignedIn && reason.isEmpty()) {
      emit AccountSignedIn(accountId);
    } else if (wasSignedIn && !reason.isEmpty()) {
      emit AccountSignedOut(accountId);
    }
  }
}

int TelephonyServer::SendRing(const QString& accountId, const QString& caller,
                              const QString& inExten, bool isDial) {
  return SendRaw(accountId, kTelRing.toByteArray(),
                 RingText(CallIdOf(accountId, true), caller, inExten, isDial));
}

int TelephonyServer::SendHangUp(const QString& accountId, const QString& caller,
                                const QString& inExten, const QString& channelPeer) {
  const QString suffix = QStringLiteral("%1").arg(++m_nChannelSerial, 8, 16, QLatin1Char('0'));
  return SendRaw(accountId, kTelHangUp.toByteArray(),
                 HangUpText(CallIdOf(accountId, false), caller, inExten, channelPeer, suffix));
}

int TelephonyServer::SendCallEnd(const QString& accountId) {
  const QString text = CallEndText(CallIdOf(accountId, false));
  m_currentCalls.remove(accountId);
  return SendRaw(accountId, kTelCallEnd.toByteArray(), text);
}

int TelephonyServer::SendRaw(const QString& accountId, const QString& eventName,
                             const QString& text) {
  QList<QByteArray> fields{kTelEvent.toByteArray(), eventName.toUtf8()};
  if (!text.isNull()) {
    fields.append(text.toUtf8());
  }
  const int connections = SendToAccount(accountId, EncodeTelLine(fields));
  emit EventSent(accountId, eventName, text, connections);
  return connections;
}

int TelephonyServer::SendBytes(const QString& accountId, const QByteArray& bytes) {
  return SendToAccount(accountId, bytes);
}

int TelephonyServer::CloseConnections(const QString& accountId, const QByteArray& lastBytes) {
  const QList<QTcpSocket*> sockets = LinksOf(accountId);
  for (QTcpSocket* socket : sockets) {
    socket->write(lastBytes);
    // Nothing more goes to a closing connection.
    SignOut(socket);
    if (m_links.contains(socket)) {
      // Closes once the bytes are out; the disconnect handler removes the link.
      socket->disconnectFromHost();
    }
  }
  return static_cast<int>(sockets.size());
}

void TelephonyServer::OnNewConnection() {
  while (QTcpSocket* socket = m_server.nextPendingConnection()) {
    // Qt hands over a connection it could not set up (gone before it was taken).
    if (socket->socketDescriptor() == -1) {
      delete socket;
      continue;
    }
    m_links.insert(socket, Link());
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { OnDisconnected(socket); });
    m_acceptPause.NoteAccepted(socket->socketDescriptor());
    emit ConnectionCountChanged(ConnectionCount());
  }
  m_acceptPause.HoldIfPaused(m_server);
}

void TelephonyServer::OnReadyRead(QTcpSocket* socket) {
  const auto link = m_links.find(socket);
  if (link == m_links.end()) {
    return;
  }
  const QList<QByteArray> lines = link->reader.Feed(socket->readAll());
  for (const QByteArray& line : lines) {
    // A handler of the signals below may have closed the connection.
    if (!m_links.contains(socket)) {
      return;
    }
    HandleLine(socket, line);
  }
}

void TelephonyServer::OnDisconnected(QTcpSocket* socket) {
  OnReadyRead(socket);
  const auto link = m_links.find(socket);
  if (link == m_links.end()) {
    return;
  }
  const bool wasSignedIn = link->signedIn;
  const QString accountId = link->accountId;
  m_links.erase(link);
  socket->disconnect(this);
  socket->deleteLater();
  m_acceptPause.TryResume();  // its descriptor is free again
  emit ConnectionCountChanged(ConnectionCount());
  if (wasSignedIn) {
    emit AccountSignedOut(accountId);
  }
}

void TelephonyServer::HandleLine(QTcpSocket* socket, const QByteArray& line) {
  const std::optional<QList<QByteArray>> fields = DecodeTelLine(line);
  if (!fields) {
    return;
  }
  const QByteArray& command = fields->first();
  if ((command == kTelLogin || command == kTelLoginDcs) && fields->size() >= 3) {
    SignIn(socket, QString::fromUtf8(command), QString::fromUtf8(fields->at(1)),
           QString::fromUtf8(fields->at(2)));
  } else if (command == kTelLogout) {
    const auto link = m_links.constFind(socket);
    if (link != m_links.cend() && link->signedIn) emit SignOutRequested(link->accountId);
    SignOut(socket);
  }
}

void TelephonyServer::SignIn(QTcpSocket* socket, const QString& kind, const QString& accountId,
                             const QString& password) {
  SignOut(socket);
  if (!m_links.contains(socket)) {
    return;
  }
  const QString reply = LoginReply(accountId, password);
  Link& link = m_links[socket];
  link.accountId = accountId;
  link.accepted = LoginSucceeded(AcceptedReply(accountId, password).toUtf8());
  link.signedIn = LoginSucceeded(reply.toUtf8());
  SendLoginResult(socket, reply);
  emit SignInHandled(kind, accountId, password, reply);
  if (link.signedIn) {
    emit AccountSignedIn(accountId);
  }
}

void TelephonyServer::SignOut(QTcpSocket* socket) {
  const auto link = m_links.find(socket);
  if (link == m_links.end()) {
    return;
  }
  const bool wasSignedIn = std::exchange(link->signedIn, false);
  link->accepted = false;
  const QString accountId = std::exchange(link->accountId, QString());
  if (wasSignedIn) {
    emit AccountSignedOut(accountId);
  }
}

QString TelephonyServer::LoginReply(const QString& accountId, const QString& password) const {
  const QString reply = AcceptedReply(accountId, password);
  if (InOutage() && LoginSucceeded(reply.toUtf8())) {
    return LoginOutageText(accountId, m_outageReason);
  }
  return reply;
}

QString TelephonyServer::AcceptedReply(const QString& accountId, const QString& password) const {
  const auto account = m_accounts.constFind(accountId);
  if (account == m_accounts.cend()) {
    return LoginNotFoundText(accountId);
  }
  if (!account->loginReply.isEmpty()) {
    return account->loginReply;
  }
  if (account->password != password) {
    return LoginPasswordErrorText(accountId);
  }
  return LoginAcceptedText(accountId, account->status, account->number);
}

QList<QTcpSocket*> TelephonyServer::LinksOf(const QString& accountId) const {
  QList<QTcpSocket*> sockets;
  for (auto link = m_links.cbegin(); link != m_links.cend(); ++link) {
    if (!link->accountId.isEmpty() && link->accountId == accountId &&
        (link->signedIn || !m_bEventsOnlyToSignedIn)) {
      sockets.append(link.key());
    }
  }
  return sockets;
}

void TelephonyServer::SendLoginResult(QTcpSocket* socket, const QString& reply) {
  socket->write(
      EncodeTelLine({kTelEvent.toByteArray(), kTelLoginResult.toByteArray(), reply.toUtf8()}));
}

int TelephonyServer::SendToAccount(const QString& accountId, const QByteArray& bytes) {
  const QList<QTcpSocket*> sockets = LinksOf(accountId);
  for (QTcpSocket* socket : sockets) {
    socket->write(bytes);
  }
  return static_cast<int>(sockets.size());
}

QString TelephonyServer::CallIdOf(const QString& accountId, bool newCall) {
  QString& callId = m_currentCalls[accountId];
  if (newCall || callId.isEmpty()) {
    callId = QStringLiteral("%1.%2").arg(m_nStartSecs).arg(++m_nCallSerial);
  }
  return callId;
}
