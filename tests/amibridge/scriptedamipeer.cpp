#include "scriptedamipeer.h"

#include <QCryptographicHash>
#include <QTcpSocket>
#include <utility>

ScriptedAmiPeer::ScriptedAmiPeer(QByteArray user, QByteArray secret, QObject* parent)
    : QObject(parent), m_user(std::move(user)), m_secret(std::move(secret)) {
  connect(&m_server, &QTcpServer::newConnection, this, &ScriptedAmiPeer::OnNewConnection);
  m_clock.start();
}

ScriptedAmiPeer::~ScriptedAmiPeer() {
  for (QTcpSocket* socket : m_links.keys()) socket->disconnect(this);
}

bool ScriptedAmiPeer::Listen() {
  if (!m_server.listen(QHostAddress::LocalHost, m_nPort)) return false;
  m_nPort = m_server.serverPort();
  return true;
}

void ScriptedAmiPeer::Play(const QByteArray& bytes) {
  for (auto link = m_links.begin(); link != m_links.end(); ++link) {
    if (link->signedIn) link.key()->write(bytes);
  }
}

void ScriptedAmiPeer::DropConnections() {
  const QList<QTcpSocket*> sockets = m_links.keys();
  m_links.clear();
  for (QTcpSocket* socket : sockets) {
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
  }
}

int ScriptedAmiPeer::SignedInConnections() const {
  int count = 0;
  for (const Link& link : m_links) count += link.signedIn ? 1 : 0;
  return count;
}

void ScriptedAmiPeer::OnNewConnection() {
  while (QTcpSocket* socket = m_server.nextPendingConnection()) {
    Link& link = m_links[socket];
    // The bridge sends no greeting; the parser takes its first line as one.
    link.parser.Feed("client\r\n");
    socket->write("Asterisk Call Manager/9.0.0\r\n");
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
      const auto link = m_links.find(socket);
      if (link == m_links.end()) return;
      for (const AmiMessage& action : link->parser.Feed(socket->readAll())) {
        if (!m_links.contains(socket)) return;
        OnAction(socket, *link, action);
      }
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      m_links.remove(socket);
      socket->deleteLater();
    });
  }
}

void ScriptedAmiPeer::OnAction(QTcpSocket* socket, Link& link, const AmiMessage& action) {
  const QByteArray name = action.Value("Action").toLower();
  AmiMessage response;
  response.Append("Response", "Success");
  response.Append("ActionID", action.Value("ActionID"));
  if (name == "challenge" && m_bOfferChallenge) {
    link.challenge = QByteArray::number(123456789 + m_nLoginAttempts);
    response.Append("Challenge", link.challenge);
  } else if (name == "login") {
    ++m_nLoginAttempts;
    m_logins.append(action);
    m_loginTimes.append(m_clock.elapsed());
    const QByteArray expectedKey =
        QCryptographicHash::hash(link.challenge + m_secret, QCryptographicHash::Md5).toHex();
    const bool keyRight = !link.challenge.isEmpty() && action.Value("AuthType") == "MD5" &&
                          action.Value("Key") == expectedKey;
    const bool secretRight = action.Value("Secret") == m_secret && !m_secret.isEmpty();
    if (m_bRefuse || action.Value("Username") != m_user || !(keyRight || secretRight)) {
      response = AmiAction({{"Response", "Error"},
                            {"ActionID", action.Value("ActionID")},
                            {"Message", "Authentication failed"}});
      socket->write(response.Encode());
      socket->disconnectFromHost();
      return;
    }
    link.signedIn = true;
    response.Append("Message", "Authentication accepted");
    socket->write(response.Encode());
    socket->write(AmiAction({{"Event", "FullyBooted"}, {"Privilege", "system,all"}}).Encode());
    return;
  } else if (name == "ping") {
    ++m_nPings;
    if (!m_bAnswerPings) return;
    response.Append("Ping", "Pong");
  } else {
    response = AmiAction({{"Response", "Error"},
                          {"ActionID", action.Value("ActionID")},
                          {"Message", "Invalid/unknown command"}});
  }
  socket->write(response.Encode());
}
