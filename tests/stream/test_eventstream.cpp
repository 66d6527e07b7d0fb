// Call events from the real relay through a real RabbitMQ node to the
// tarvex-events tool: every event once, in order per relay, whatever the
// broker and the relay go through.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "support/clustertest.h"
#include "support/eventconsumer.h"
#include "support/notifysocket.h"
#include "support/qtwait.h"
#include "support/rabbitmqnode.h"
#include "support/relayprocess.h"
#include "support/testcertificates.h"
#include "tools/telsim/telephonyserver.h"

namespace {

RabbitMqNode* broker = nullptr;
TestCertificates* certificates = nullptr;
quint16 tlsPort = 0;

class BrokerEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    certificates = new TestCertificates;
    ASSERT_TRUE(certificates->made);
    broker = new RabbitMqNode(QStringLiteral("tarvex-test-%1").arg(::getpid()));
    tlsPort = broker->ListenWithTls(certificates->Path("ca.pem"), certificates->Path("relay.pem"),
                                    certificates->Path("relay.key"));
    ASSERT_TRUE(broker->Start()) << broker->Log().toStdString();
  }
  void TearDown() override {
    delete std::exchange(broker, nullptr);
    delete std::exchange(certificates, nullptr);
  }
};

[[maybe_unused]] const testing::Environment* const kBroker =
    testing::AddGlobalTestEnvironment(new BrokerEnvironment);

constexpr int kDeliveryWaitMs = 120000;
const QString kInbound = QStringLiteral("07077771234");

// A relay with one account on the simulator, publishing to the broker;
// its settings and state outlive a restart.
struct StreamingRelay {
  QString name;
  QString accountId;
  QTemporaryDir dir;
  std::unique_ptr<RelayProcess> process;
  QString brokerSettings;
  NotifySocket status;  // as systemd's

  void Start(const std::string& odbc, quint16 telPort) {
    RelayProcess::Options options;
    options.odbc = odbc;
    options.telPort = telPort;
    options.environment = {{QStringLiteral("NOTIFY_SOCKET"), status.Path()}};
    options.configHome = dir.filePath(QStringLiteral("config"));
    options.stateDirectory = dir.filePath(QStringLiteral("state"));
    ASSERT_TRUE(QDir().mkpath(options.configHome + QStringLiteral("/MERVO")));
    QFile settings(options.configHome + QStringLiteral("/MERVO/Tarvex.conf"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(QStringLiteral("[SETTING]\nUID1=%1\nPWD1=secret\nSERVERIP1=127.0.0.1\n"
                                  "RELAYNAME=%2\n%3")
                       .arg(accountId, name, brokerSettings)
                       .toUtf8());
    settings.close();
    process = std::make_unique<RelayProcess>(options);
    ASSERT_TRUE(process->Start());
    ASSERT_TRUE(process->WaitForOutput(QStringLiteral("[0]%1 - 로그인성공").arg(accountId)))
        << process->StandardError().toStdString();
  }
};

// The events of one relay as the consumer got them, duplicates dropped.
struct Received {
  QStringList callers;
  QList<quint64> sequences;
};

// A caller whose event may or may not have made it is left out.
QMap<QString, Received> ByRelay(const QList<EventConsumer::Message>& messages,
                                const QString& uncertainCaller) {
  QMap<QString, Received> received;
  QSet<QString> seen;
  for (const EventConsumer::Message& message : messages) {
    if (seen.contains(message.messageId) ||
        message.event.value(QStringLiteral("caller")).toString() == uncertainCaller) {
      continue;
    }
    seen.insert(message.messageId);
    const QString relay = message.event.value(QStringLiteral("relay")).toString();
    Received& mine = received[relay];
    mine.callers.append(message.event.value(QStringLiteral("caller")).toString());
    mine.sequences.append(message.messageId.section('-', -1).toULongLong());
    EXPECT_EQ(message.messageId.section('-', 0, -2), relay);
    EXPECT_EQ(message.routingKey,
              QStringLiteral("%1.%2.ring")
                  .arg(relay, message.event.value(QStringLiteral("extension")).toString()));
  }
  return received;
}

// The relay needs its call database to start.
class EventStreamTest : public ClusterTest {
 protected:
  void SetUp() override { ASSERT_TRUE(telsim.Listen(0)) << telsim.ErrorString().toStdString(); }

  static QString Broker(quint16 port, int outboxBytes = 1 << 20) {
    return QStringLiteral("AMQPHOST=127.0.0.1\nAMQPPORT=%1\nAMQPOUTBOXBYTES=%2\n")
        .arg(port)
        .arg(outboxBytes);
  }

  StreamingRelay& AddRelay(const QString& brokerSettings = Broker(broker->Port())) {
    const int number = int(relays.size()) + 1;
    auto relay = std::make_unique<StreamingRelay>();
    relay->name = QStringLiteral("relay%1").arg(number);
    relay->accountId = QStringLiteral("agent%1").arg(number);
    relay->brokerSettings = brokerSettings;
    TelAccount account;
    account.id = relay->accountId;
    account.password = QStringLiteral("secret");
    account.number = QStringLiteral("0701234530%1").arg(number);
    telsim.AddAccount(account);
    relays.push_back(std::move(relay));
    relays.back()->Start(cluster->ConnectionString(), telsim.Port());
    return *relays.back();
  }

  // The relay's next call; its caller goes to sent.
  void Ring(int relay, QStringList* sent) {
    sent->append(QStringLiteral("010%1%2").arg(relay).arg(sent->size(), 5, 10, QLatin1Char('0')));
    telsim.SendRing(relays[relay - 1]->accountId, sent->last(), kInbound, false);
  }

  // Waits until every relay's callers have arrived, and checks their order.
  void ExpectDelivered(const QMap<QString, QStringList>& expected) {
    QMap<QString, Received> received;
    const bool complete = WaitUntil(
        [&] {
          received = ByRelay(consumer.Messages(), uncertainCaller);
          for (auto relay = expected.begin(); relay != expected.end(); ++relay) {
            if (received.value(relay.key()).callers.size() < relay.value().size()) return false;
          }
          return true;
        },
        kDeliveryWaitMs);
    for (auto relay = expected.begin(); relay != expected.end(); ++relay) {
      EXPECT_EQ(received.value(relay.key()).callers, relay.value()) << relay.key().toStdString();
      const QList<quint64>& sequences = received.value(relay.key()).sequences;
      EXPECT_TRUE(std::is_sorted(sequences.begin(), sequences.end())) << relay.key().toStdString();
    }
    ASSERT_TRUE(complete) << consumer.StandardError().toStdString();
  }

  TelephonyServer telsim;
  std::vector<std::unique_ptr<StreamingRelay>> relays;
  EventConsumer consumer;
  QString uncertainCaller;
};

TEST_F(EventStreamTest, EveryEventOfEveryRelayArrivesOnceInOrder) {
  ASSERT_TRUE(consumer.Start(broker->Port())) << consumer.StandardError().toStdString();
  constexpr int kRelays = 3;
  constexpr int kCalls = 30;
  for (int relay = 1; relay <= kRelays; ++relay) AddRelay();
  QMap<QString, QStringList> sent;
  for (int call = 0; call < kCalls; ++call) {
    for (int relay = 1; relay <= kRelays; ++relay) Ring(relay, &sent[relays[relay - 1]->name]);
  }
  ExpectDelivered(sent);
}

// The broker goes away while calls ring, then the relay is killed with
// events waiting: the queue gets every event once the broker is back.
TEST_F(EventStreamTest, EventsWaitForTheBrokerAcrossItsStopAndTheRelaysKill) {
  ASSERT_TRUE(consumer.Start(broker->Port(), QStringLiteral("outage")))
      << consumer.StandardError().toStdString();
  StreamingRelay& relay = AddRelay();
  QStringList sent;
  const auto ring = [&](int count) {
    while (count-- > 0) Ring(1, &sent);
  };
  ring(10);
  ExpectDelivered({{relay.name, sent}});

  ASSERT_TRUE(broker->StopBroker()) << broker->Log().toStdString();
  ring(10);
  ASSERT_TRUE(broker->StartBroker()) << broker->Log().toStdString();
  ExpectDelivered({{relay.name, sent}});

  ASSERT_TRUE(broker->StopBroker()) << broker->Log().toStdString();
  ring(10);
  // Its activity line comes once the rings before it went into the outbox.
  uncertainCaller = QStringLiteral("0109999999");
  telsim.SendRing(relay.accountId, uncertainCaller, kInbound, false);
  ASSERT_TRUE(relay.process->WaitForOutput(uncertainCaller));
  relay.process->Kill();
  ASSERT_TRUE(relay.process->WaitFinished());
  ASSERT_TRUE(broker->StartBroker()) << broker->Log().toStdString();
  relay.Start(cluster->ConnectionString(), telsim.Port());
  ExpectDelivered({{relay.name, sent}});
}

TEST_F(EventStreamTest, FullOutboxRefusesEventsAndSaysSo) {
  ASSERT_TRUE(broker->StopBroker()) << broker->Log().toStdString();
  // Room for a few of the ten events only.
  StreamingRelay& relay = AddRelay(Broker(broker->Port(), 400));
  QStringList sent;
  for (int call = 0; call < 10; ++call) Ring(1, &sent);
  EXPECT_TRUE(relay.process->WaitForOutput(QStringLiteral("이벤트 대기열이 가득 참")))
      << relay.process->StandardError().toStdString();
  EXPECT_TRUE(WaitUntil(
      [&] {
        const QList<QByteArray> lines = relay.status.MessagesStartingWith("STATUS=");
        return !lines.isEmpty() && lines.last().endsWith("(outbox full, new events dropped)");
      },
      10000));
  ASSERT_TRUE(broker->StartBroker()) << broker->Log().toStdString();
}

TEST_F(EventStreamTest, TlsPublishesOnlyToABrokerTheCaFileVouchesFor) {
  ASSERT_TRUE(consumer.Start(broker->Port())) << consumer.StandardError().toStdString();
  for (const char* caFile : {"ca.pem", "other.pem"}) {
    // By name: the host name in the certificate is checked.
    AddRelay(Broker(tlsPort).replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost")) +
             QStringLiteral("AMQPTLS=1\nAMQPCAFILE=%1\n").arg(certificates->Path(caFile)));
  }
  QStringList sent[2];
  Ring(1, &sent[0]);
  Ring(2, &sent[1]);
  EXPECT_TRUE(relays[1]->process->WaitForOutput(QStringLiteral("이벤트 브로커 연결 끊김")));
  ExpectDelivered({{relays[0]->name, sent[0]}});
  EXPECT_FALSE(ByRelay(consumer.Messages(), {}).contains(relays[1]->name));
}

// Last: the suite's node stays in a cluster with nodes that are gone.
TEST_F(EventStreamTest, QuorumQueueKeepsEveryEventWhenANodeOfTheClusterDies) {
  RabbitMqNode second(QStringLiteral("tarvex-test-%1-b").arg(::getpid()), broker);
  RabbitMqNode third(QStringLiteral("tarvex-test-%1-c").arg(::getpid()), broker);
  for (RabbitMqNode* node : {&second, &third}) {
    ASSERT_TRUE(node->Start() && node->JoinCluster(*broker)) << node->Log().toStdString();
  }
  // Declared once the cluster is whole, so that it has a member on each node.
  ASSERT_TRUE(consumer.Start(broker->Port(), QStringLiteral("cluster")))
      << consumer.StandardError().toStdString();
  StreamingRelay& relay = AddRelay();
  QStringList sent;
  for (int call = 0; call < 20; ++call) {
    if (call == 10) third.Kill();
    Ring(1, &sent);
  }
  ExpectDelivered({{relay.name, sent}});
}

}  // namespace
