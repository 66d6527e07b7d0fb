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

// One HTTP request as bytes and the answer as far as it came: a whole one
// (headers and Content-Length bytes), or what came before the relay closed.
struct HttpExchange {
  HttpExchange(const QHostAddress& address, quint16 port, const QByteArray& request) {
    QObject::connect(&socket, &QTcpSocket::readyRead, [this] { answer += socket.readAll(); });
    socket.connectToHost(address, port);
    if (socket.waitForConnected(5000)) socket.write(request);
    const bool head = request.startsWith("HEAD");
    WaitUntil(
        [&] {
          const qsizetype end = answer.indexOf("\r\n\r\n");
          return socket.state() != QAbstractSocket::ConnectedState ||
                 (end >= 0 &&
                  (head || answer.size() - end - 4 >= Header("Content-Length").toInt()));
        },
        3 * FeedListener::kRequestMs);
  }
  int Status() const { return answer.mid(9, 3).toInt(); }
  QByteArray Header(const QByteArray& name) const {
    for (const QByteArray& line : answer.left(answer.indexOf("\r\n\r\n")).split('\n')) {
      if (line.toLower().startsWith(name.toLower() + ':'))
        return line.mid(name.size() + 1).trimmed();
    }
    return {};
  }
  QByteArray Body() const { return answer.mid(answer.indexOf("\r\n\r\n") + 4); }
  QTcpSocket socket;
  QByteArray answer;
};

QByteArray Get(const char* method, const QByteArray& path, const QByteArray& headers = {}) {
  return method + (" " + path) + " HTTP/1.1\r\nHost: relay\r\n" + headers + "\r\n";
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

// The pages on the feed's port: their types and the headers that keep
// other people's markup and script out of them.
TEST_F(WebFeedTest, PagesAreServedOnTheFeedPortWithTheirGuards) {
  struct Case {
    const char* method;
    QByteArray path;
    int status;
    QByteArray type;
    QByteArray bodyHas;
  };
  const Case cases[] = {
      {"GET", "/", 200, "text/html", "agent.js"},
      {"GET", "/#token=x", 200, "text/html", "agent.js"},
      {"GET", "/admin", 200, "text/html", "admin.js"},
      {"GET", "/agent.js", 200, "text/javascript", "FeedConnection"},
      {"GET", "/feed.css", 200, "text/css", "@media"},
      {"HEAD", "/admin", 200, "text/html", ""},
      {"POST", "/", 405, "text/plain", ""},
      {"DELETE", "/admin", 405, "text/plain", ""},
      {"GET", "/admin.html", 404, "text/plain", ""},
      {"GET", "/../core/feed/pages/agent.html", 404, "text/plain", ""},
      {"GET", "/metrics", 404, "text/plain", ""},  // this machine, no figures yet
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + (" " + c.path.toStdString()));
    const HttpExchange http(QHostAddress::LocalHost, FeedPort(), Get(c.method, c.path));
    EXPECT_EQ(http.Status(), c.status) << http.answer.left(200).toStdString();
    EXPECT_TRUE(http.Header("Content-Type").startsWith(c.type));
    EXPECT_EQ(http.Header("X-Content-Type-Options"), "nosniff");
    EXPECT_TRUE(http.Header("Content-Security-Policy").contains("script-src 'self'"));
    EXPECT_FALSE(http.Header("Content-Security-Policy").contains("unsafe-inline"));
    EXPECT_TRUE(http.Body().contains(c.bodyHas));
    if (c.method == QByteArray("HEAD")) {
      EXPECT_TRUE(http.Body().isEmpty());
    }
  }
}

// Whatever a peer sends, the relay neither falls over nor waits for it:
// the next browser gets its page and the feed still signs in.
TEST_F(WebFeedTest, BrokenRequestsNeitherCrashNorStallThePort) {
  std::mt19937 random(11);
  QByteArray binary(64 * 1024, 0);
  for (char& byte : binary) byte = char(random());
  const QByteArray cases[] = {
      binary,
      "GET / HTTP/1.1\r\nX-Long: " + QByteArray(1024 * 1024, 'a') + "\r\n\r\n",
      "GET /" + QByteArray(1024 * 1024, 'b') + " HTTP/1.1\r\n\r\n",
      "GET / HT",
      "POST / HTTP/1.1\r\nContent-Length: 100000\r\n\r\nabc",
      "GET / HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
      "BREW /pot HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Key: !!\r\nSec-WebSocket-Version: 99\r\n\r\n",
      "\r\n\r\n\r\n",
  };
  std::vector<std::unique_ptr<TestClient>> peers;
  for (const QByteArray& bytes : cases) {
    peers.push_back(std::make_unique<TestClient>(FeedPort()));
    peers.back()->Send(bytes);
    const HttpExchange next(QHostAddress::LocalHost, FeedPort(), Get("GET", "/admin"));
    EXPECT_EQ(next.Status(), 200) << bytes.left(40).toStdString();
  }
  // None of them holds its place for long.
  for (const auto& peer : peers) EXPECT_TRUE(peer->WaitForPeerClose(3 * FeedListener::kRequestMs));
  FeedClient client(FeedPort());
  EXPECT_TRUE(client.SignIn(NewToken("a301", {"--extensions", "301"})));
}

// The figures: this machine reads them freely, another only with an
// administrator's token.
class OpenWebFeedTest : public WebFeedTest {
 protected:
  OpenWebFeedTest() { extraSettings += "FEEDADDRESS=0.0.0.0\nFEEDCLEARTEXT=1\n"; }
};

TEST_F(OpenWebFeedTest, MetricsNeedAnAdministratorFromAnotherHost) {
  QHostAddress outside;
  for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
    if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()) {
      outside = address;
    }
  }
  if (outside.isNull()) GTEST_SKIP() << "no address but loopback";
  const QByteArray agent = NewToken("a301", {"--extensions", "301"}).toLatin1();
  const QByteArray admin = NewToken("boss", {"--admin"}).toLatin1();
  struct Case {
    QByteArray authorization;
    int status;
  };
  const Case cases[] = {
      {"", 401},
      {"Bearer ", 401},
      {"Bearer nonsense", 401},
      {"Basic " + admin, 401},
      {"Bearer " + agent, 403},
      {"Bearer " + admin, 404},  // allowed; the relay has no figures yet
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.authorization.toStdString());
    const QByteArray header =
        c.authorization.isEmpty() ? QByteArray() : "Authorization: " + c.authorization + "\r\n";
    const HttpExchange http(outside, FeedPort(), Get("GET", "/metrics", header));
    EXPECT_EQ(http.Status(), c.status);
  }
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

// A certificate authority of the test's own, one the relay does not use,
// and the relay's certificate for 127.0.0.1 from the first, made by openssl.
struct TestCertificates {
  TestCertificates() {
    QFile extension(dir.filePath(QStringLiteral("san.ext")));
    made = extension.open(QIODevice::WriteOnly) && extension.write("subjectAltName=IP:127.0.0.1\n");
    extension.close();
    const QStringList ecKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    for (const QStringList& arguments :
         {QStringList{"req", "-x509", "-days", "2", "-subj", "/CN=Test CA", "-keyout", "ca.key",
                      "-out", "ca.pem"} +
              ecKey,
          QStringList{"req", "-x509", "-days", "2", "-subj", "/CN=Other CA", "-keyout", "other.key",
                      "-out", "other.pem"} +
              ecKey,
          QStringList{"req", "-subj", "/CN=127.0.0.1", "-keyout", "relay.key", "-out",
                      "relay.csr"} +
              ecKey,
          QStringList{"x509", "-req", "-in", "relay.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                      "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out",
                      "relay.pem"}}) {
      QProcess openssl;
      openssl.setWorkingDirectory(dir.path());
      openssl.start(QStringLiteral("openssl"), arguments);
      made = made && openssl.waitForFinished(30000) && openssl.exitCode() == 0;
    }
  }
  // A client that trusts only the authority in file.
  QSslConfiguration Trusting(const QString& file) const {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(dir.filePath(file)));
    return tls;
  }
  QTemporaryDir dir;
  bool made = false;
};

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
