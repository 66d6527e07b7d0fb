#include "core/feed/websocketfeed.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>

#include "core/config/relayname.h"
#include "core/config/settingkeys.h"
#include "core/config/settingsstore.h"
#include "core/feed/calleventjson.h"
#include "core/feed/websockettextframe.h"
#include "core/relay/allowlistsetting.h"
#include "core/relay/sendnow.h"
#include "core/text/cp949.h"

WebSocketFeed::WebSocketFeed(quint16 port, QObject* parent)
    : QObject(parent),
      m_port(port),
      m_throttle([this](const QByteArray& line) { emit ActivityLine(line); }),
      m_pages([this](const QString& secret) -> std::optional<FeedToken> {
        const auto token = m_tokensByHash.constFind(FeedToken::HashOf(secret));
        if (token == m_tokensByHash.cend()) return std::nullopt;
        return *token;
      }),
      // Encryption, when set, is the listener's: the pages see plain sockets.
      m_listener(new FeedListener(this)) {
  connect(m_listener, &FeedListener::Refused, this, &WebSocketFeed::OnRefused);
  connect(m_listener, &FeedListener::Refused, this, &WebSocketFeed::Refused);
  connect(m_listener, &FeedListener::HandshakeFailed, this,
          [this](const QByteArray& host, const QString& error) {
            m_throttle.Report(kHandshakeFailedLine, host,
                              host + ToCp949(QStringLiteral(" 웹 알림 클라이언트의 TLS 연결이 "
                                                            "실패했습니다: %1")
                                                 .arg(error)));
          });
  connect(&m_pages, &FeedPages::newWebSocketConnection, this, &WebSocketFeed::OnNewConnection);
  m_statusTimer.setInterval(kStatusMs);
  m_statusTimer.callOnTimeout(this, &WebSocketFeed::SendStatusIfChanged);
  m_holdTimer.setSingleShot(true);
  m_holdTimer.setInterval(kHoldMs);
  m_holdTimer.callOnTimeout(this, [this] { FlushWaiting(m_held, Flush::Held); });
  connect(&m_settingsWatch, &SettingsFileWatch::Changed, this, &WebSocketFeed::ReadTokens);
}

WebSocketFeed::~WebSocketFeed() {
  for (const auto& [socket, connection] : m_connections) socket->disconnect(this);
}

void WebSocketFeed::ReadSettings(SettingsStore& settings) {
  if (m_port == 0) return;
  m_settings = &settings;
  const QString address =
      FromCp949(settings.GetProfileString(QLatin1String(kFeedAddressKey), "127.0.0.1"));
  if (!m_address.setAddress(address)) {
    emit ErrorLine(ToCp949(QStringLiteral("웹 알림 주소가 올바르지 않습니다: %1").arg(address)));
    m_address = QHostAddress::LocalHost;
  }
  m_allowClearText = settings.GetProfileInt(kFeedClearTextSetting) != 0;
  m_tlsUnusable = !ReadTls(settings);
  ReadAccess(settings);
  m_relayName = ReadRelayName(settings);
  m_linkTemplate = FromCp949(settings.GetProfileString(kFeedLinkSetting));
  ReadTokens();
}

void WebSocketFeed::ReadAccess(SettingsStore& settings) {
  m_listener->Rules().SetAllowed(
      0, ReadAllowList(settings, kFeedAllowSetting, QStringLiteral("웹 알림"),
                       [this](const QByteArray& line) { emit ErrorLine(line); }));
  m_listener->Rules().SetClientsPerHost(qMax(0, settings.GetProfileInt(kClientsPerHostSetting)));
}

// False when a certificate is set but cannot be used: better no feed than
// a clear one where encryption was asked for.
bool WebSocketFeed::ReadTls(SettingsStore& settings) {
  const QString certificatePath = FromCp949(settings.GetProfileString(kFeedCertificateSetting));
  const QString keyPath = FromCp949(settings.GetProfileString(kFeedKeySetting));
  m_listener->SetTls({});
  if (certificatePath.isEmpty() && keyPath.isEmpty()) return true;
  const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificatePath);
  QFile keyFile(keyPath);
  QSslKey key;
  if (keyFile.open(QIODevice::ReadOnly)) {
    const QByteArray pem = keyFile.readAll();
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec}) {
      if (key.isNull()) key = QSslKey(pem, algorithm);
    }
  }
  if (chain.isEmpty() || key.isNull() || !QSslSocket::supportsSsl()) {
    emit ErrorLine(ToCp949(QStringLiteral("웹 알림의 인증서나 키를 읽을 수 없어 웹 알림을 "
                                          "열지 않습니다: %1, %2")
                               .arg(certificatePath, keyPath)));
    return false;
  }
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.setLocalCertificateChain(chain);
  tls.setPrivateKey(key);
  tls.setPeerVerifyMode(QSslSocket::VerifyNone);
  m_listener->SetTls(tls);
  return true;
}

void WebSocketFeed::OnRefused(const QByteArray& host, Admission why) {
  if (why == Admission::NotAllowed) {
    m_throttle.Report(kRefusedLine, host,
                      host + ToCp949(QStringLiteral(" 클라이언트는 웹 알림의 접속 허용 목록에 "
                                                    "없어 연결을 끊었습니다.")));
  } else {
    m_throttle.Report(kOverHostLimitLine, host,
                      host + ToCp949(QStringLiteral(" 클라이언트의 웹 알림 연결이 %1개를 넘어 "
                                                    "연결을 끊었습니다.")
                                         .arg(m_listener->Rules().ClientsPerHost())));
  }
}

void WebSocketFeed::ReadTokens() {
  if (!m_settings) return;
  m_settingsWatch.Watch(m_settings->Location());
  m_settings->Reread();
  QHash<QByteArray, FeedToken> tokens;
  for (const QString& key : m_settings->NamesStartingWith(QLatin1String(kFeedTokenKeyPrefix))) {
    const QString name = key.mid(qsizetype(qstrlen(kFeedTokenKeyPrefix)));
    QString error;
    const std::optional<FeedToken> token =
        FeedToken::FromStored(name, FromCp949(m_settings->GetProfileString(key, {})), &error);
    if (token) {
      tokens.insert(token->hash, *token);
    } else {
      emit ErrorLine(ToCp949(QStringLiteral("웹 알림 토큰을 읽을 수 없습니다: %1").arg(error)));
    }
  }
  m_tokensByHash = std::move(tokens);
  // A connection whose token was removed or replaced hears nothing more; one
  // whose extensions changed hears the new ones.
  std::vector<QWebSocket*> removed;
  for (auto& [socket, connection] : m_connections) {
    if (!connection.signedIn) continue;
    const auto token = m_tokensByHash.constFind(connection.token.hash);
    if (token == m_tokensByHash.cend() || token->name != connection.token.name) {
      removed.push_back(socket);
    } else {
      connection.token = *token;
    }
  }
  for (QWebSocket* socket : removed) {
    Close(socket, kTokenRemoved, QStringLiteral("token removed"));
  }
}

void WebSocketFeed::Start() {
  if (m_port == 0 || m_listener->isListening() || m_tlsUnusable) return;
  if (!m_address.isLoopback() && !m_allowClearText && !m_listener->IsEncrypted()) {
    emit ErrorLine(ToCp949(QStringLiteral("웹 알림을 열지 않습니다: %1은(는) 이 컴퓨터 밖에서 "
                                          "닿는 주소이고 암호화 없는 연결이 허용되지 않았습니다 "
                                          "(FEEDCERT, FEEDKEY 또는 FEEDCLEARTEXT=1).")
                               .arg(m_address.toString())));
    return;
  }
  m_statusTimer.start();
  if (!m_listener->listen(m_address, m_port)) {
    emit ErrorLine(ToCp949(QStringLiteral("웹 알림 포트 %1을(를) 열 수 없습니다: %2")
                               .arg(m_port)
                               .arg(m_listener->errorString())));
    return;
  }
  m_pages.bind(m_listener);
}

void WebSocketFeed::OnNewConnection() {
  while (QWebSocket* socket = m_pages.nextPendingWebSocketConnection().release()) {
    QTcpSocket* wire = m_listener->KeepOpen(socket->peerAddress(), socket->peerPort());
    if (!wire) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    Connection& connection = m_connections[socket];
    connection.wire = wire;
    connection.encrypted = qobject_cast<QSslSocket*>(wire) != nullptr;
    socket->setMaxAllowedIncomingMessageSize(4096);
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, socket](const QString& message) { OnTextMessage(socket, message); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this, socket] { Close(socket, kBadMessage, QStringLiteral("text messages only")); });
    connect(socket, &QWebSocket::disconnected, this,
            [this, socket] { m_connections.erase(socket); });
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kSignInMs, socket, [this, socket] {
      const auto found = m_connections.find(socket);
      if (found != m_connections.end() && !found->second.signedIn) {
        Close(socket, kNoToken, QStringLiteral("no token"));
      }
    });
  }
}

// The first message signs in; what a signed-in client sends is ignored.
void WebSocketFeed::OnTextMessage(QWebSocket* socket, const QString& message) {
  const auto found = m_connections.find(socket);
  if (found == m_connections.end() || found->second.signedIn) return;
  const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
  if (object.value(QStringLiteral("type")).toString() != QLatin1String("auth")) {
    Close(socket, kBadMessage, QStringLiteral("expected {\"type\":\"auth\",\"token\":...}"));
    return;
  }
  const QByteArray hash = FeedToken::HashOf(object.value(QStringLiteral("token")).toString());
  const auto token = m_tokensByHash.constFind(hash);
  if (token == m_tokensByHash.cend()) {
    Close(socket, kUnknownToken, QStringLiteral("unknown token"));
    return;
  }
  found->second.signedIn = true;
  found->second.token = *token;
  QStringList extensions(token->extensions.begin(), token->extensions.end());
  extensions.sort();
  const QJsonObject welcome{{QStringLiteral("type"), QStringLiteral("welcome")},
                            {QStringLiteral("version"), kCallEventSchemaVersion},
                            {QStringLiteral("relay"), m_relayName},
                            {QStringLiteral("token"), token->name},
                            {QStringLiteral("admin"), token->admin},
                            {QStringLiteral("extensions"), QJsonArray::fromStringList(extensions)},
                            {QStringLiteral("link"), m_linkTemplate}};
  Send(socket, found->second,
       WebSocketTextFrame(QJsonDocument(welcome).toJson(QJsonDocument::Compact)), Flush::AfterPass);
  if (token->admin && m_status) {
    Send(socket, found->second, WebSocketTextFrame(StatusJson()), Flush::AfterPass);
  }
}

QByteArray WebSocketFeed::StatusJson() const {
  QJsonObject status = m_status();
  status.insert(QStringLiteral("type"), QStringLiteral("status"));
  status.insert(QStringLiteral("version"), kCallEventSchemaVersion);
  status.insert(QStringLiteral("relay"), m_relayName);
  QJsonObject clients = status.value(QStringLiteral("clients")).toObject();
  clients.insert(QStringLiteral("feed"), qint64(m_connections.size()));
  status.insert(QStringLiteral("clients"), clients);
  return QJsonDocument(status).toJson(QJsonDocument::Compact);
}

void WebSocketFeed::SendStatusIfChanged() {
  if (!m_status) return;
  SendToEach([](const Connection& connection) { return connection.token.admin; },
             [this]() -> std::optional<QByteArray> {
               QByteArray status = StatusJson();
               if (status == m_lastStatus) return std::nullopt;
               m_lastStatus = status;
               return status;
             },
             Flush::Held);
}

void WebSocketFeed::Deliver(const CallEvent& event, const CallOutcome&) {
  const QString extension = QString::number(event.extension);
  const int sent = SendToEach(
      [&extension](const Connection& connection) { return connection.token.Hears(extension); },
      [&]() -> std::optional<QByteArray> { return CallEventJson(event, m_relayName); },
      event.kind == CallEventKind::Ring ? Flush::AfterPass : Flush::Held);
  if (sent > 0) emit EventSent(sent);
}

int WebSocketFeed::SendToEach(const std::function<bool(const Connection&)>& hears,
                              const std::function<std::optional<QByteArray>()>& message,
                              Flush flush) {
  // Sending may cut a connection off, so the listeners are found first.
  std::vector<QWebSocket*> listeners;
  for (const auto& [socket, connection] : m_connections) {
    if (connection.signedIn && hears(connection)) listeners.push_back(socket);
  }
  if (listeners.empty()) return 0;
  const std::optional<QByteArray> utf8 = message();
  if (!utf8) return 0;
  const QByteArray frame = WebSocketTextFrame(*utf8);
  for (QWebSocket* socket : listeners) Send(socket, m_connections.at(socket), frame, flush);
  return int(listeners.size());
}

// A browser that does not read costs only itself: past the bound it is cut off.
void WebSocketFeed::Send(QWebSocket* socket, Connection& connection, const QByteArray& frame,
                         Flush flush) {
  // In a long pass of the event loop (a burst of telephony events) a browser
  // that reads could pass the bound with nothing yet offered to the system.
  if (Queued(connection) > kMaxQueuedBytes) WriteOut(connection);
  if (Queued(connection) > kMaxQueuedBytes) {
    const QByteArray host = ClientAdmission::HostOf(socket->peerAddress());
    m_throttle.Report(
        kDroppedLine, host,
        host + ToCp949(QStringLiteral(" 웹 알림 클라이언트가 수신하지 않아 연결을 끊었습니다.")));
    m_connections.erase(socket);
    socket->disconnect(this);
    socket->abort();
    return;
  }
  // Kept apart from the socket until the flush: written to it, a frame
  // would go out at the next pass, held or not.
  if (connection.waiting.isEmpty()) {
    connection.waiting = frame;
  } else {
    connection.waiting.append(frame);
  }
  if (connection.flush == Flush::AfterPass || connection.flush == flush) return;
  connection.flush = flush;
  if (flush == Flush::AfterPass) {
    m_afterPass.push_back(socket);
    if (m_afterPass.size() == 1) {
      QMetaObject::invokeMethod(
          this, [this] { FlushWaiting(m_afterPass, Flush::AfterPass); }, Qt::QueuedConnection);
    }
  } else {
    m_held.push_back(socket);
    if (!m_holdTimer.isActive()) m_holdTimer.start();
  }
}

qint64 WebSocketFeed::Queued(const Connection& connection) {
  return connection.wire->bytesToWrite() + connection.waiting.size();
}

// Whole frames, behind what the WebSocket itself wrote (pongs): one thread
// writes both. A clear connection that Qt holds nothing for gets them
// straight from the system, as the client ports do: through Qt each flush
// turned the socket's write notifier on and off, two system calls more.
void WebSocketFeed::WriteOut(Connection& connection) {
  connection.flush = Flush::None;
  if (connection.waiting.isEmpty()) return;
  const QByteArray frames = std::exchange(connection.waiting, {});
  QTcpSocket* wire = connection.wire;
  qsizetype sent = 0;
  if (!connection.encrypted && wire->state() == QAbstractSocket::ConnectedState &&
      wire->bytesToWrite() == 0) {
    sent = SendNow(*wire, frames.constData(), frames.size());
  }
  if (sent == frames.size()) return;
  wire->write(frames.constData() + sent, frames.size() - sent);
  wire->flush();
}

void WebSocketFeed::FlushWaiting(std::vector<QWebSocket*>& list, Flush flush) {
  for (QWebSocket* socket : std::exchange(list, {})) {
    // Those since cut off, or whose frames left with an earlier flush, are past.
    const auto found = m_connections.find(socket);
    if (found != m_connections.end() && found->second.flush == flush) WriteOut(found->second);
  }
}

// The client is told why; one that does not answer the close is cut off.
void WebSocketFeed::Close(QWebSocket* socket, CloseCode code, const QString& reason) {
  const auto found = m_connections.find(socket);
  if (found != m_connections.end()) {
    WriteOut(found->second);
    m_connections.erase(found);
  }
  socket->disconnect(this);
  socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
  QTimer::singleShot(kSignInMs, socket, &QWebSocket::abort);
}
