// The browser feed of the real relay: tokens made with the real binary, raw
// WebSocket clients, calls from the simulated telephony server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpSocket>
#include <QWebSocket>
#include <random>

#include "bench/stalledbrowsers.h"
#include "core/feed/feedlistener.h"
#include "core/feed/feedtoken.h"
#include "core/feed/websocketfeed.h"
#include "e2e/webfeedtest.h"
#include "support/testcertificates.h"
#include "support/testcore.h"

namespace {

// A browser stand-in: what it received and how it was closed.
struct FeedClient {
  // tls: wss with this configuration; none: clear ws.
  explicit FeedClient(quint16 port, const std::optional<QSslConfiguration>& tls = std::nullopt) {
    QObject::connect(&socket, &QWebSocket::textMessageReceived,
                     [this](const QString& message) { messages << message; });
    QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
    QObject::connect(&socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error),
                     [this] { failed = true; });
    if (tls) socket.setSslConfiguration(*tls);
    socket.open(QUrl(QStringLiteral("%1://127.0.0.1:%2").arg(tls ? "wss" : "ws").arg(port)));
  }
  bool SignIn(const QString& token) {
    if (!WaitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; })) return false;
    socket.sendTextMessage(QStringLiteral(R"({"type":"auth","token":"%1"})").arg(token));
    return WaitUntil([&] { return !messages.isEmpty() || closed; }) && !closed;
  }
  // The messages of one type received, as JSON objects.
  QList<QJsonObject> Received(const QString& type = QStringLiteral("call")) const {
    QList<QJsonObject> received;
    for (const QString& message : messages) {
      const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
      if (object.value(QStringLiteral("type")) == type) received << object;
    }
    return received;
  }
  QList<QJsonObject> Events() const { return Received(); }
  QWebSocket socket;
  QStringList messages;
  bool closed = false;
  bool failed = false;  // could not connect, among others
};

// One request as bytes, and all the relay answered until it closed.
QByteArray Exchange(const QHostAddress& address, quint16 port, const QByteArray& request) {
  QTcpSocket socket;
  socket.connectToHost(address, port);
  socket.write(request);
  QByteArray answer;
  WaitUntil(
      [&] {
        const bool closed = socket.state() == QAbstractSocket::UnconnectedState;
        answer += socket.readAll();
        return closed;
      },
      3 * FeedListener::kRequestMs);
  return answer;
}

TEST_F(WebFeedTest, ConnectionsWithoutAValidTokenAreClosedWithTheirCode) {
  NewToken(QStringLiteral("agent301"), {QStringLiteral("--extensions"), QStringLiteral("301")});
  struct Case {
    const char* name;
    std::optional<QString> firstMessage;  // none: says nothing
    bool binary;
    quint16 code;
  };
  const Case cases[] = {
      {"silent", std::nullopt, false, WebSocketFeed::kNoToken},
      {"not JSON", QStringLiteral("hello"), false, WebSocketFeed::kBadMessage},
      {"not a sign-in", QStringLiteral(R"({"type":"ring"})"), false, WebSocketFeed::kBadMessage},
      {"binary", QStringLiteral("\x01\x02"), true, WebSocketFeed::kBadMessage},
      {"wrong token", QStringLiteral(R"({"type":"auth","token":"x"})"), false,
       WebSocketFeed::kUnknownToken},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FeedClient client(FeedPort());
    ASSERT_TRUE(
        WaitUntil([&] { return client.socket.state() == QAbstractSocket::ConnectedState; }));
    if (c.firstMessage && c.binary) client.socket.sendBinaryMessage(c.firstMessage->toLatin1());
    if (c.firstMessage && !c.binary) client.socket.sendTextMessage(*c.firstMessage);
    ASSERT_TRUE(WaitUntil([&] { return client.closed; }, 3 * WebSocketFeed::kSignInMs));
    EXPECT_EQ(quint16(client.socket.closeCode()), c.code);
    EXPECT_TRUE(client.Events().isEmpty());
  }
}

// Each token hears its own extensions, whole numbers; an administrator
// hears everything; a removed token is cut off.
TEST_F(WebFeedTest, TokensHearTheirOwnExtensionsUntilRemoved) {
  FeedClient agent301(FeedPort()), agent302(FeedPort()), agent30(FeedPort()), admin(FeedPort());
  ASSERT_TRUE(agent301.SignIn(NewToken("a301", {"--extensions", "301"})));
  ASSERT_TRUE(agent302.SignIn(NewToken("a302", {"--extensions", "302"})));
  ASSERT_TRUE(agent30.SignIn(NewToken("a30", {"--extensions", "30,3"})));
  ASSERT_TRUE(admin.SignIn(NewToken("boss", {"--admin"})));
  fixture->Ring(1);  // account 1: extension 301
  ASSERT_TRUE(WaitUntil([&] { return admin.Events().size() == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return agent301.Events().size() == 1; }));
  const QJsonObject event = agent301.Events().first();
  EXPECT_EQ(event.value("event").toString(), "ring");
  EXPECT_EQ(event.value("extension").toString(), "301");
  EXPECT_EQ(event.value("caller").toString(), CallerOf(1));
  EXPECT_EQ(event.value("version").toInt(), 1);
  EXPECT_TRUE(QDateTime::fromString(event.value("time").toString(), Qt::ISODate).isValid());
  EXPECT_TRUE(agent302.Events().isEmpty());
  EXPECT_TRUE(agent30.Events().isEmpty());

  // The administrator also hears the relay's state, again when it changes.
  const auto lastStatus = [&] {
    const QList<QJsonObject> statuses = admin.Received(QStringLiteral("status"));
    return statuses.isEmpty() ? QJsonObject() : statuses.last();
  };
  const auto ldkClients = [&] { return lastStatus()["clients"].toObject()["ldk"].toInt(); };
  ASSERT_EQ(ldkClients(), 1);
  EXPECT_TRUE(lastStatus()["accounts"].toArray().first().toObject()["signedIn"].toBool());
  TestClient anotherLdk(fixture->relay->options().ldkPort);
  EXPECT_TRUE(WaitUntil([&] { return ldkClients() == 2; }));
  EXPECT_TRUE(agent301.Received(QStringLiteral("status")).isEmpty());

  QSettings settings(SettingsFile(), QSettings::IniFormat);
  settings.remove(QStringLiteral("SETTING/FEEDTOKEN_A301"));
  settings.sync();
  ASSERT_TRUE(WaitUntil([&] { return agent301.closed; }));
  EXPECT_EQ(quint16(agent301.socket.closeCode()), WebSocketFeed::kTokenRemoved);
  fixture->Ring(2);
  ASSERT_TRUE(WaitUntil([&] { return admin.Events().size() == 2; }));
  EXPECT_FALSE(agent302.closed);

  // An answer and an end wait to leave with a later ring, but not for long
  // and not out of order.
  fixture->Call(3);
  ASSERT_TRUE(WaitUntil([&] { return admin.Events().size() == 5; }));
  QStringList kinds;
  for (const QJsonObject& received : admin.Events()) kinds << received["event"].toString();
  EXPECT_EQ(kinds.join(' '), "ring ring ring answer end");
}

// A browser that stops reading is cut off, and the desks get every call.
TEST_F(WebFeedTest, ABrowserThatStopsReadingIsCutOff) {
  QSettings settings(SettingsFile(), QSettings::IniFormat);
  settings.setValue(QStringLiteral("SETTING/FEEDTOKEN_STALLED"),
                    FeedToken::HashOf(QLatin1String(StalledBrowsers::kToken)) + " admin");
  settings.sync();
  StalledBrowsers stalled(FeedPort(), 1);
  QString error;
  ASSERT_TRUE(WaitUntil([&] { return stalled.Open(&error); })) << error.toStdString();
  const QString dropped = QStringLiteral("웹 알림 클라이언트가 수신하지 않아 연결을 끊었습니다.");
  for (int sequence = 1; sequence <= 1000 && fixture->StderrCount(dropped) == 0; sequence += 100) {
    for (int call = sequence; call < sequence + 100; ++call) fixture->Call(call);
    WaitUntil([&] { return fixture->StderrCount(dropped) > 0; }, 200);
  }
  EXPECT_TRUE(fixture->relay->WaitForOutput(dropped));
  EXPECT_TRUE(fixture->EveryCallArrived());
}

// Without encryption the feed stays on this machine unless allowed.
TEST_F(WebFeedTest, ClearTextIsRefusedOnAnAddressOthersReach) {
  fixture->relay->Signal(SIGTERM);
  ASSERT_TRUE(fixture->relay->WaitFinished());
  QSettings settings(SettingsFile(), QSettings::IniFormat);
  settings.setValue(QStringLiteral("SETTING/FEEDADDRESS"), QStringLiteral("0.0.0.0"));
  settings.sync();
  ASSERT_TRUE(fixture->StartRelay());
  EXPECT_TRUE(fixture->relay->WaitForOutput(QStringLiteral("FEEDCLEARTEXT=1")));
  FeedClient client(FeedPort());
  EXPECT_TRUE(WaitUntil([&] { return client.failed; }));
  EXPECT_NE(client.socket.state(), QAbstractSocket::ConnectedState);
}

// The pages and the figures on the feed's port, from this machine and from
// another address of it, with the headers that keep foreign markup out.
class OpenWebFeedTest : public WebFeedTest {
 protected:
  OpenWebFeedTest() { extraSettings += "FEEDADDRESS=0.0.0.0\nFEEDCLEARTEXT=1\n"; }
};

TEST_F(OpenWebFeedTest, PagesAndMetricsOnTheFeedPort) {
  QHostAddress outside;
  for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
    if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
      outside = address;
  }
  const QByteArray agent =
      "Authorization: Bearer " + NewToken("a", {"--extensions", "301"}).toLatin1();
  const QByteArray admin = "Authorization: Bearer " + NewToken("boss", {"--admin"}).toLatin1();
  struct Case {
    QByteArray request;
    bool fromOutside;
    int status;
    QByteArray type;
    QByteArray bodyEnd;
  };
  const Case cases[] = {
      {"GET / ", false, 200, "text/html; charset=utf-8", "</html>\n"},
      {"GET /agent.js ", true, 200, "text/javascript; charset=utf-8", "start();\n"},
      {"HEAD /admin ", false, 200, "text/html; charset=utf-8", "\r\n\r\n"},
      {"POST / ", false, 405, "text/plain", ""},
      {"GET /../core/feed/pages/agent.html ", false, 404, "text/plain", ""},
      {"GET /metrics ", false, 200, "text/plain; version=0.0.4; charset=utf-8", "\n"},
      {"GET /metrics ", true, 401, "text/plain", ""},
      {"GET /metrics HTTP/1.1\r\nAuthorization: Bearer nonsense", true, 401, "text/plain", ""},
      {"GET /metrics HTTP/1.1\r\n" + agent, true, 403, "text/plain", ""},
      {"GET /metrics HTTP/1.1\r\n" + admin, true, 200, "text/plain; version=0.0.4", "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.toStdString());
    if (c.fromOutside && outside.isNull()) continue;
    const QByteArray request = c.request.endsWith(' ') ? c.request + "HTTP/1.1" : c.request;
    const QByteArray answer =
        Exchange(c.fromOutside ? outside : QHostAddress(QHostAddress::LocalHost), FeedPort(),
                 request + "\r\nHost: relay\r\n\r\n");
    EXPECT_EQ(answer.mid(9, 3).toInt(), c.status) << answer.left(300).toStdString();
    EXPECT_TRUE(answer.contains("\r\nContent-Type: " + c.type));
    EXPECT_TRUE(answer.endsWith(c.bodyEnd));
    EXPECT_TRUE(answer.contains("\r\nX-Content-Type-Options: nosniff\r\n"));
    EXPECT_TRUE(
        answer.contains("\r\nContent-Security-Policy: default-src 'none'; script-src 'self';"));
  }
}

// Whatever a peer sends, the next browser gets its page at once, the peer
// does not keep its place, and the feed still signs in.
TEST_F(WebFeedTest, BrokenRequestsNeitherCrashNorStallThePort) {
  std::mt19937 random(11);
  QByteArray binary(64 * 1024, 0);
  for (char& byte : binary) byte = char(random());
  std::vector<std::unique_ptr<TestClient>> peers;
  for (const QByteArray& bytes :
       {binary, "GET / HTTP/1.1\r\nX-Long: " + QByteArray(1 << 20, 'a') + "\r\n\r\n",
        "GET /" + QByteArray(1 << 20, 'b') + " HTTP/1.1\r\n\r\n", QByteArray("GET / HT"),
        QByteArray("POST / HTTP/1.1\r\nContent-Length: 100000\r\n\r\nabc"),
        QByteArray("GET / HTTP/1.1\r\nContent-Length: -5\r\n\r\n"),
        QByteArray("BREW / HTTP/1.1\r\n\r\n"),
        QByteArray("GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 99\r\n\r\n")}) {
    peers.push_back(std::make_unique<TestClient>(FeedPort()));
    peers.back()->Send(bytes);
    EXPECT_TRUE(Exchange(QHostAddress::LocalHost, FeedPort(), "GET /admin HTTP/1.1\r\n\r\n")
                    .startsWith("HTTP/1.1 200"))
        << bytes.left(40).toStdString();
  }
  for (const auto& peer : peers) EXPECT_TRUE(peer->WaitForPeerClose(3 * FeedListener::kRequestMs));
  FeedClient client(FeedPort());
  EXPECT_TRUE(client.SignIn(NewToken("a301", {"--extensions", "301"})));
}

// A desk without settings yet: its first token makes the file, private
// whatever the umask.
TEST(NewTokenTest, MakesAPrivateSettingsFileWhereThereIsNone) {
  QTemporaryDir home;
  QProcess tarvex;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
  tarvex.setProcessEnvironment(environment);
  const mode_t umask = ::umask(0);
  tarvex.start(QStringLiteral(TARVEX_BINARY_DIR "/Tarvex"),
               {QStringLiteral("--new-token"), QStringLiteral("desk"),
                QStringLiteral("--extensions"), QStringLiteral("301")});
  ::umask(umask);
  ASSERT_TRUE(tarvex.waitForFinished());
  EXPECT_EQ(tarvex.exitCode(), 0) << tarvex.readAllStandardError().toStdString();
  const QString file = home.filePath(QStringLiteral("MERVO/Tarvex.conf"));
  struct stat status {};
  ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  QSettings settings(file, QSettings::IniFormat);
  EXPECT_TRUE(settings.value(QStringLiteral("SETTING/FEEDTOKEN_DESK")).toString().endsWith(" 301"));
}

class SecureWebFeedTest : public WebFeedTest {
 protected:
  SecureWebFeedTest() {
    // Encrypted, the feed may listen where others reach it.
    extraSettings +=
        "FEEDADDRESS=0.0.0.0\nFEEDCERT=" + certificates.dir.filePath("relay.pem").toUtf8() +
        "\nFEEDKEY=" + certificates.dir.filePath("relay.key").toUtf8() + "\n";
  }
  TestCertificates certificates;
};

TEST_F(SecureWebFeedTest, OnlyClientsThatTrustTheCertificateHear) {
  ASSERT_TRUE(certificates.made);
  FeedClient trusting(FeedPort(), certificates.Trusting("ca.pem"));
  FeedClient trustingAnother(FeedPort(), certificates.Trusting("other.pem"));
  FeedClient clear(FeedPort());
  ASSERT_TRUE(trusting.SignIn(NewToken("a301", {"--extensions", "301"})));
  EXPECT_TRUE(WaitUntil([&] { return trustingAnother.failed; }));
  EXPECT_TRUE(WaitUntil([&] { return clear.closed || clear.failed; }));
  fixture->Ring(1);
  ASSERT_TRUE(WaitUntil([&] { return trusting.Events().size() == 1; }));
  EXPECT_TRUE(trustingAnother.Events().isEmpty());
  EXPECT_TRUE(clear.Events().isEmpty());
}

// The client ports' rules: an allow-list of its own, the same limit per host.
class GuardedWebFeedTest : public WebFeedTest {
 protected:
  GuardedWebFeedTest() { extraSettings += "FEEDALLOW=127.0.0.1 127.0.0.5\nCLIENTSPERHOST=2\n"; }
};

TEST_F(GuardedWebFeedTest, AllowListAndConnectionsPerHostApply) {
  constexpr quint32 kStranger = 0x7f000003, kListed = 0x7f000005;
  TestClient stranger(FeedPort(), 0, kStranger);
  EXPECT_TRUE(stranger.WaitForPeerClose());
  EXPECT_TRUE(stranger.Received().isEmpty());
  EXPECT_TRUE(fixture->relay->WaitForOutput(QStringLiteral("127.0.0.3 클라이언트는 웹 알림의")));

  TestClient first(FeedPort(), 0, kListed), second(FeedPort(), 0, kListed);
  TestClient third(FeedPort(), 0, kListed);
  EXPECT_TRUE(third.WaitForPeerClose());
  EXPECT_FALSE(first.WaitForPeerClose(300));
  EXPECT_FALSE(second.WaitForPeerClose(0));

  // A browser that leaves frees its place, once the relay has seen it go.
  const QString token = NewToken("a301", {"--extensions", "301"});
  FeedClient leaving(FeedPort()), staying(FeedPort());
  ASSERT_TRUE(leaving.SignIn(token));
  ASSERT_TRUE(staying.SignIn(token));
  leaving.socket.close();
  EXPECT_TRUE(WaitUntil([&] {
    TestClient newcomer(FeedPort());
    return !newcomer.WaitForPeerClose(300);
  }));
}

}  // namespace
