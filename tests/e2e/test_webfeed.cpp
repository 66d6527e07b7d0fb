// The browser feed of the real relay: tokens made with the real binary, raw
// WebSocket clients, calls from the simulated telephony server.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QWebSocket>

#include "core/feed/websocketfeed.h"
#include "e2e/faulttest.h"

namespace {

// A browser stand-in: what it received and how it was closed.
struct FeedClient {
  explicit FeedClient(quint16 port) {
    QObject::connect(&socket, &QWebSocket::textMessageReceived,
                     [this](const QString& message) { messages << message; });
    QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
    QObject::connect(&socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error),
                     [this] { failed = true; });
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
  }
  bool SignIn(const QString& token) {
    if (!WaitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; })) return false;
    socket.sendTextMessage(QStringLiteral(R"({"type":"auth","token":"%1"})").arg(token));
    return WaitUntil([&] { return !messages.isEmpty() || closed; }) && !closed;
  }
  // The call events received, as JSON objects.
  QList<QJsonObject> Events() const {
    QList<QJsonObject> events;
    for (const QString& message : messages) {
      const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
      if (object.value(QStringLiteral("type")) == QLatin1String("call")) events << object;
    }
    return events;
  }
  QWebSocket socket;
  QStringList messages;
  bool closed = false;
  bool failed = false;  // could not connect, among others
};

quint16 FreePort() {
  QTcpServer server;
  server.listen(QHostAddress::LocalHost, 0);
  return server.serverPort();
}

class WebFeedTest : public FaultTest {
 protected:
  WebFeedTest() {
    adjustRelay = [](RelayProcess::Options& options) { options.feedPort = FreePort(); };
  }
  quint16 FeedPort() const { return fixture->relay->options().feedPort; }
  // A token made as an operator makes it, taken by the running relay.
  QString NewToken(const QString& name, const QStringList& scope) {
    QProcess tarvex;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), fixture->relay->options().configHome);
    tarvex.setProcessEnvironment(environment);
    tarvex.start(QStringLiteral(TARVEX_BINARY_DIR "/Tarvex"),
                 QStringList{QStringLiteral("--new-token"), name} + scope);
    EXPECT_TRUE(tarvex.waitForFinished());
    EXPECT_EQ(tarvex.exitCode(), 0) << tarvex.readAllStandardError().toStdString();
    return QString::fromLatin1(tarvex.readAllStandardOutput()).trimmed();
  }
  QString SettingsFile() const {
    return fixture->relay->options().configHome + QStringLiteral("/MERVO/Tarvex.conf");
  }
};

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

  QSettings settings(SettingsFile(), QSettings::IniFormat);
  settings.remove(QStringLiteral("SETTING/FEEDTOKEN_A301"));
  settings.sync();
  ASSERT_TRUE(WaitUntil([&] { return agent301.closed; }));
  EXPECT_EQ(quint16(agent301.socket.closeCode()), WebSocketFeed::kTokenRemoved);
  fixture->Ring(2);
  ASSERT_TRUE(WaitUntil([&] { return admin.Events().size() == 2; }));
  EXPECT_FALSE(agent302.closed);
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

}  // namespace
