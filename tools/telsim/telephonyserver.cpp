#include "tools/telsim/telephonyserver.h"

#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "core/text/cp949.h"
#include "core/text/eventtext.h"
#include "tools/telsim/servertexts.h"

namespace {

// What the closed session of an account, and a sign-in refused for the
// session that closed it, are told (STATUS 0: the control tries again later).
const QString kSignedInElsewhere = QStringLiteral("SIGNED IN ELSEWHERE");
const QString kInUseElsewhere = QStringLiteral("ACCOUNT IN USE ELSEWHERE");
// A session that closed another from its own address keeps the account
// this long against that address: a relay that reconnects over a session the
// server still thinks open gets in, one that shares the account waits.
constexpr qint64 kSameAddressHoldMs = 60000;
// Bytes a held connection may have waiting before the system holds the rest.
constexpr qint64 kHeldReadBuffer = 256 * 1024;

// Takes as long whatever the ID, the password or where they differ.
bool PasswordsMatch(const QString& expected, const QString& given) {
  const QByteArray want = expected.toUtf8();
  const QByteArray got = given.toUtf8();
  unsigned difference = want.size() != got.size() ? 1 : 0;
  for (qsizetype i = 0; i < got.size(); ++i) {
    difference |= uchar(got[i]) ^ (want.isEmpty() ? 0u : uchar(want[i % want.size()]));
  }
  return difference == 0;
}

}  // namespace

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
  m_clock.start();
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
    if (m_bGuarded) socket->setReadBufferSize(kHeldReadBuffer);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { OnDisconnected(socket); });
    m_acceptPause.NoteAccepted(socket->socketDescriptor());
    emit ConnectionCountChanged(ConnectionCount());
  }
  m_acceptPause.HoldIfPaused(m_server);
}

void TelephonyServer::OnReadyRead(QTcpSocket* socket) {
  auto link = m_links.find(socket);
  // A held connection is read on once its answer is out.
  if (link == m_links.end() || link->held) {
    return;
  }
  link->pendingLines.append(link->reader.Feed(socket->readAll()));
  // A handler of the signals below may have closed the connection, or a
  // sign-in held it.
  while ((link = m_links.find(socket)) != m_links.end() && !link->held &&
         !link->pendingLines.isEmpty()) {
    HandleLine(socket, link->pendingLines.takeFirst());
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
  const auto link = m_links.find(socket);
  if (link == m_links.end()) {
    return;
  }
  if (m_bGuarded) {
    const qint64 now = m_clock.elapsed();
    const qint64 answerAt = m_throttle.AnswerTime(socket->peerAddress(), now);
    if (answerAt > now) {
      link->held = true;
      QTimer::singleShot(int(answerAt - now), socket, [=, this] {
        const auto held = m_links.find(socket);
        if (held == m_links.end()) return;
        held->held = false;
        Answer(socket, kind, accountId, password);
        OnReadyRead(socket);
      });
      return;
    }
  }
  Answer(socket, kind, accountId, password);
}

void TelephonyServer::Answer(QTcpSocket* socket, const QString& kind, const QString& accountId,
                             const QString& password) {
  const bool accepted = LoginSucceeded(AcceptedReply(accountId, password).toUtf8());
  if (m_bGuarded && !Admit(socket, kind, accountId, accepted)) {
    return;
  }
  const QString reply = LoginReply(accountId, password);
  Link& link = m_links[socket];
  link.accountId = accountId;
  link.accepted = accepted;
  link.signedIn = LoginSucceeded(reply.toUtf8());
  SendLoginResult(socket, reply);
  emit SignInHandled(kind, accountId, password, reply);
  if (link.signedIn) {
    emit AccountSignedIn(accountId);
  }
}

bool TelephonyServer::Admit(QTcpSocket* socket, const QString& kind, const QString& accountId,
                            bool accepted) {
  const QHostAddress peer = socket->peerAddress();
  if (!accepted) {
    const int failures = m_throttle.NoteFailure(peer, m_clock.elapsed());
    if (SignInThrottle::WorthALine(failures)) {
      emit Notice(
          QStringLiteral("%1 %2 refused from %3: wrong ID or password (%4 in a row from there)")
              .arg(kind, accountId, peer.toString())
              .arg(failures));
    }
    return true;
  }
  m_throttle.NoteSuccess(peer);
  QList<QTcpSocket*> others;
  for (auto link = m_links.cbegin(); link != m_links.cend(); ++link) {
    if (link.key() != socket && link->accepted && link->accountId == accountId) {
      others.append(link.key());
    }
  }
  const qint64 now = m_clock.elapsed();
  QHostAddress displaced;
  for (QTcpSocket* other : others) {
    const auto incumbent = m_links.constFind(other);
    if (incumbent == m_links.cend()) continue;
    const QHostAddress otherPeer = other->peerAddress();
    // Two relays on one account would otherwise close each other's session
    // for ever, each reconnecting within a second: the one that came second keeps it.
    if (incumbent->displaced == peer &&
        (otherPeer != peer || now - incumbent->displacedAtMs < kSameAddressHoldMs)) {
      SendLoginResult(socket, LoginOutageText(accountId, kInUseElsewhere));
      emit Notice(QStringLiteral("%1 %2 from %3 refused: the account is in use from %4, which "
                                 "took it over from %3; give each relay its own accounts")
                      .arg(kind, accountId, peer.toString(), otherPeer.toString()));
      return false;
    }
    displaced = otherPeer;
    SendLoginResult(other, LoginOutageText(accountId, kSignedInElsewhere));
    SignOut(other);
    if (m_links.contains(other)) other->disconnectFromHost();
    emit Notice(QStringLiteral("%1 signed in again from %2: its session from %3 is closed")
                    .arg(accountId, peer.toString(), otherPeer.toString()));
  }
  const auto link = m_links.find(socket);
  if (link == m_links.end()) return false;
  link->displaced = displaced;
  link->displacedAtMs = now;
  return true;
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
  const bool known = account != m_accounts.cend();
  if (known && !account->loginReply.isEmpty()) {
    return account->loginReply;
  }
  // An unknown ID is compared too, so that it takes no less time.
  const bool matches = PasswordsMatch(known ? account->password : QString(), password);
  if (known && matches) {
    return LoginAcceptedText(accountId, account->status, account->number);
  }
  if (m_bGuarded) {
    return LoginRefusedText(accountId);
  }
  return known ? LoginPasswordErrorText(accountId) : LoginNotFoundText(accountId);
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
