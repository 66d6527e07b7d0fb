#include <gtest/gtest.h>

#include <QFile>
#include <QHttpServer>
#include <QMessageAuthenticationCode>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "core/config/settingsstore.h"
#include "core/webhook/webhooks.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"

namespace {

struct Received {
  QByteArray eventId, timestamp, signature, body;
};

QString HookUrl(quint16 port) { return QStringLiteral("http://127.0.0.1:%1/hook").arg(port); }

// An HTTP receiver on loopback: answers the nth request with answer(n), keeps what it got.
struct Receiver {
  explicit Receiver(std::function<QHttpServerResponse(int)> answer) {
    server.route("/hook", [this, answer](const QHttpServerRequest& request) {
      received.push_back({request.value("X-Tarvex-Event-Id"), request.value("X-Tarvex-Timestamp"),
                          request.value("X-Tarvex-Signature"), request.body()});
      return answer(int(received.size()));
    });
    port = server.listen(QHostAddress::LocalHost, AnyFreePort());
  }
  QString Url() const { return HookUrl(port); }
  QHttpServer server;
  std::vector<Received> received;
  quint16 port = 0;
};

// A TCP peer that is no HTTP server: each connection gets what act does to it.
struct RawPeer {
  explicit RawPeer(std::function<void(QTcpSocket*)> act) {
    QObject::connect(&server, &QTcpServer::newConnection, [this, act] {
      while (QTcpSocket* socket = server.nextPendingConnection()) {
        ++connections;
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, act] { act(socket); });
      }
    });
    server.listen(QHostAddress::LocalHost, AnyFreePort());
  }
  QString Url() const { return HookUrl(server.serverPort()); }
  QTcpServer server;
  int connections = 0;
};

using Status = QHttpServerResponder::StatusCode;

class WebhooksTest : public ::testing::Test {
 protected:
  // Set before the first hook is added.
  WebhookPolicy policy{5000, 10, 80, 1000};

  Webhooks& Hooks() {
    if (!hooks) {
      hooks = std::make_unique<Webhooks>(directory.path(),
                                         directory.filePath("webhooks.rejected.txt"), policy);
      QObject::connect(hooks.get(), &Webhooks::ErrorLine,
                       [this](const QByteArray& line) { errors.push_back(line); });
    }
    return *hooks;
  }
  void AddHook(const QString& name, const QString& value) {
    qputenv(("TARVEX_WEBHOOK_SECRET_" + name.toUpper()).toLatin1(), "secret-" + name.toUtf8());
    settings.WriteProfileString("WEBHOOK_" + name, value.toUtf8());
    Hooks().ReadSettings(settings);
  }
  void Send(int count) {
    for (int n = 0; n < count; ++n) {
      CallEvent event;
      event.extension = 301;
      event.callId = "call-" + QByteArray::number(++events);
      event.time = QDateTime::currentDateTime();
      Hooks().Deliver(event, {});
    }
  }
  std::optional<WebhookDelivery::State> Failing(const QString& name) {
    for (const auto& state : Hooks().Failing()) {
      if (state.name == name) return state;
    }
    return std::nullopt;
  }

  QTemporaryDir directory;
  SettingsStore settings{directory.filePath("tarvex.ini")};
  std::unique_ptr<Webhooks> hooks;
  std::vector<QByteArray> errors;
  int events = 0;
};

TEST_F(WebhooksTest, FailedEventIsSentAgainInOrderUntilAcceptedAndIsSigned) {
  Receiver receiver(
      [](int n) { return QHttpServerResponse(n <= 5 ? Status::InternalServerError : Status::Ok); });
  AddHook("crm", receiver.Url());
  Send(2);
  ASSERT_TRUE(WaitUntil([&] { return receiver.received.size() == 7; }, 20000));
  for (size_t n = 0; n < receiver.received.size(); ++n) {
    const Received& got = receiver.received[n];
    EXPECT_EQ(got.eventId, receiver.received[n < 6 ? 0 : 6].eventId) << n;
    EXPECT_TRUE(got.body.contains(n < 6 ? "\"call-1\"" : "\"call-2\"")) << got.body.data();
    const QByteArray mac = QMessageAuthenticationCode::hash(
        got.timestamp + '.' + got.body, "secret-crm", QCryptographicHash::Sha256);
    EXPECT_EQ(got.signature, "sha256=" + mac.toHex()) << n;
  }
  EXPECT_NE(receiver.received[0].eventId, receiver.received[6].eventId);
  EXPECT_FALSE(WaitUntil([&] { return receiver.received.size() > 7; }, 300));
  EXPECT_FALSE(Failing("CRM"));
}

TEST_F(WebhooksTest, GoneStopsTheHookUntilItsSettingChanges) {
  Receiver receiver([](int n) { return QHttpServerResponse(n == 1 ? Status::Gone : Status::Ok); });
  AddHook("old", receiver.Url());
  Send(3);
  ASSERT_TRUE(WaitUntil([&] { return Failing("OLD") && Failing("OLD")->stopped; }));
  Send(3);
  Hooks().ReadSettings(settings);
  Send(1);
  EXPECT_FALSE(WaitUntil([&] { return receiver.received.size() > 1; }, 500));
  EXPECT_EQ(errors.size(), 1u);
  // The three events that waited go to the new address first.
  settings.WriteProfileString("WEBHOOK_OLD", (receiver.Url() + "?v=2").toUtf8());
  ASSERT_TRUE(WaitUntil([&] { return receiver.received.size() == 4; }));
  EXPECT_EQ(receiver.received[1].eventId, receiver.received[0].eventId);
  Send(1);
  EXPECT_TRUE(WaitUntil([&] { return receiver.received.size() == 5; }));
}

TEST_F(WebhooksTest, SilentReceiverDoesNotHoldBackAnotherHook) {
  policy.requestMs = 60000;
  RawPeer silent([](QTcpSocket*) {});
  Receiver healthy([](int) { return QHttpServerResponse(Status::Ok); });
  AddHook("silent", silent.Url());
  AddHook("healthy", healthy.Url());
  Send(20);
  EXPECT_TRUE(WaitUntil([&] { return healthy.received.size() == 20; }));
  EXPECT_EQ(silent.connections, 1);
}

TEST_F(WebhooksTest, EventGivenUpGoesToTheRejectFileAndTheHookGoesOn) {
  policy.mostTries = 3;
  Receiver receiver([](int) { return QHttpServerResponse(Status::ServiceUnavailable); });
  AddHook("down", receiver.Url());
  Send(2);
  ASSERT_TRUE(WaitUntil([&] { return errors.size() == 2; }, 20000));
  EXPECT_EQ(receiver.received.size(), 6u);
  QFile file(directory.filePath("webhooks.rejected.txt"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
  ASSERT_EQ(lines.size(), 2);
  for (int n = 0; n < 2; ++n) {
    const Received& sent = receiver.received[size_t(n) * 3];
    EXPECT_TRUE(lines[n].contains(" DOWN " + sent.eventId + " (3 tries, last: HTTP 503) "))
        << lines[n].data();
    EXPECT_TRUE(lines[n].endsWith(sent.body)) << lines[n].data();
  }
}

// Taken out of use, a hook keeps its events on disk for when it is set again.
TEST_F(WebhooksTest, RemovedHookSendsWhatWaitedWhenSetAgain) {
  bool accepting = false;
  Receiver receiver(
      [&](int) { return QHttpServerResponse(accepting ? Status::Ok : Status::Gone); });
  AddHook("crm", receiver.Url());
  Send(3);
  ASSERT_TRUE(WaitUntil([&] { return Failing("CRM").has_value(); }));
  AddHook("crm", "");
  EXPECT_TRUE(errors.back().contains(directory.filePath("webhooks/CRM").toUtf8()));
  accepting = true;
  AddHook("crm", receiver.Url());
  ASSERT_TRUE(WaitUntil([&] { return receiver.received.size() == 4; }));
  EXPECT_EQ(receiver.received[1].eventId, receiver.received[0].eventId);
}

TEST_F(WebhooksTest, FullQueueRefusesEventsToTheRejectFile) {
  policy.mostWaitingBytes = 4000;
  Receiver receiver([](int) { return QHttpServerResponse(Status::Gone); });
  AddHook("full", receiver.Url());
  Send(30);
  ASSERT_TRUE(WaitUntil([&] { return Failing("FULL").has_value(); }));
  const qint64 waiting = Failing("FULL")->waiting;
  EXPECT_EQ(errors.size(), size_t(30 - waiting + 1));  // the refused ones and the 410
  EXPECT_TRUE(errors[0].contains("(queue full)")) << errors[0].data();
}

// Peers that answer badly: the hook retries and another hook hears every event.
TEST_F(WebhooksTest, HostileReceiverCostsOnlyItsOwnHook) {
  const QByteArray huge(32 << 20, 'x');
  Receiver whole([](int) { return QHttpServerResponse(QByteArray(1000, 'y')); });
  struct Case {
    const char* name = "";
    std::function<QHttpServerResponse(int)> answer = {};  // or else raw
    std::function<void(QTcpSocket*)> raw = {};
    bool accepted = false;
  };
  const std::vector<Case> cases{
      {.name = "huge error body",
       .answer = [&](int) { return QHttpServerResponse(huge, Status::BadGateway); }},
      {.name = "huge accepting body",
       .answer = [&](int) { return QHttpServerResponse(huge); },
       .accepted = true},
      {.name = "garbage",
       .raw = [](QTcpSocket* socket) { socket->write(QByteArray(100, '\x01') + "\r\n\r\n"); }},
      {.name = "hangs up", .raw = [](QTcpSocket* socket) { socket->abort(); }},
      {.name = "silent", .raw = [](QTcpSocket*) {}},
      // Between the relay and a real receiver: the answer cut short of its last bytes.
      {.name = "closes mid-answer",
       .raw =
           [&](QTcpSocket* socket) {
             auto* upstream = socket->findChild<QTcpSocket*>();
             if (!upstream) {
               upstream = new QTcpSocket(socket);
               upstream->connectToHost(QHostAddress::LocalHost, whole.port);
               QObject::connect(upstream, &QTcpSocket::readyRead, socket, [socket, upstream] {
                 socket->write(upstream->read(upstream->bytesAvailable() - 10));
                 socket->disconnectFromHost();
               });
             }
             upstream->write(socket->readAll());
           }},
      {.name = "drips",
       .raw =
           [](QTcpSocket* socket) {
             auto* drip = new QTimer(socket);
             drip->callOnTimeout(socket, [socket] { socket->write("x"); });
             drip->start(50);
           }},
  };
  policy.requestMs = 2000;
  Receiver healthy([](int) { return QHttpServerResponse(Status::Ok); });
  AddHook("healthy", healthy.Url());
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    // A hook of its own: no events left over from the case before.
    const QString hook = QStringLiteral("HOSTILE%1").arg(&test - cases.data());
    std::optional<Receiver> receiver;
    std::optional<RawPeer> raw;
    if (test.answer) receiver.emplace(test.answer);
    if (test.raw) raw.emplace(test.raw);
    const size_t before = healthy.received.size();
    AddHook(hook, receiver ? receiver->Url() : raw->Url());
    Send(3);
    EXPECT_TRUE(WaitUntil([&] { return healthy.received.size() == before + 3; }, 20000));
    if (test.accepted) {
      EXPECT_TRUE(WaitUntil([&] { return receiver->received.size() == 3; }, 20000));
      EXPECT_FALSE(Failing(hook));
    } else {
      EXPECT_TRUE(WaitUntil([&] { return Failing(hook) && Failing(hook)->tries >= 2; }, 20000));
      EXPECT_FALSE(Failing(hook)->lastError.isEmpty());
      EXPECT_EQ(Failing(hook)->waiting, 3);
    }
  }
}

}  // namespace
