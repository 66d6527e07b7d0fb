// Who may use the real relay's client ports: clients bound to loopback addresses of their own.
#include <QTcpSocket>
#include <deque>
#include <utility>
#include <vector>

#include "e2e/faulttest.h"

namespace {

const QString kOutsider = QStringLiteral("127.0.0.2");
const QString kDesk = QStringLiteral("127.0.0.3");
constexpr qsizetype kAck = 4;
constexpr qsizetype kRecord = 24;

class HostClient {
 public:
  HostClient(const QString& host, quint16 port) {
    QObject::connect(&m_socket, &QTcpSocket::readyRead,
                     [this] { m_received += m_socket.readAll(); });
    m_socket.bind(QHostAddress(host));
    m_socket.connectToHost(QHostAddress::LocalHost, port);
  }
  bool WaitConnected() { return m_socket.waitForConnected(kNoticeWaitMs); }
  bool WaitBytes(qsizetype count) {
    return WaitUntil([&] { return m_received.size() >= count; }, kNoticeWaitMs);
  }
  bool WaitClosed() {
    return WaitUntil([&] { return IsClosed(); }, kNoticeWaitMs);
  }
  bool Send(const QByteArray& text) { return m_socket.write(text) == text.size(); }
  bool Register(const QByteArray& text) { return WaitConnected() && Send(text) && WaitBytes(kAck); }
  const QByteArray& Received() {
    // Asked while connecting, Qt would give the connection up.
    if (m_socket.state() == QAbstractSocket::ConnectedState) m_socket.waitForReadyRead(0);
    return m_received;
  }
  bool IsClosed() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }

 private:
  QTcpSocket m_socket;
  QByteArray m_received;
};

class AccessTest : public FaultTest {
 protected:
  explicit AccessTest(const QByteArray& settings) {
    extraSettings = "CLIENTSPERHOST=20\nREGISTERWAIT=2\n" + settings;
  }
  // How often the relay wrote text, once it has written it at all.
  int Lines(const QString& text) {
    EXPECT_TRUE(fixture->relay->WaitForOutput(text)) << text.toStdString();
    return fixture->StderrCount(text);
  }
  // Once the second ring reached a client, the first reached all it goes to.
  void RingTwice(int sequence) {
    fixture->Ring(sequence);
    fixture->Ring(sequence + 1);
  }
};

struct AllowListTest : AccessTest {
  AllowListTest()
      : AccessTest("EXTALLOW=127.0.0.1, 127.0.0.3/32\nLDKALLOW=127.0.0.1 127.0.0.3\n") {}
};
struct OpenPortsTest : AccessTest {
  OpenPortsTest() : AccessTest("") {}
};
// The settings, then the records each of three clients that register "301"
// in turn (a desk, another host, the desk reconnecting) holds after each
// registration and two rings.
using TakeOver = std::pair<QByteArray, std::vector<std::vector<int>>>;
struct TakeOverTest : AccessTest, testing::WithParamInterface<TakeOver> {
  TakeOverTest() : AccessTest(GetParam().first) {}
};

TEST_F(AllowListTest, ClientOutsideTheListGetsNothingAndOneLineHoweverOftenItTries) {
  HostClient desk(kDesk, fixture->ExtPort());
  ASSERT_TRUE(desk.Register("301"));
  for (int attempt = 0; attempt < 4; ++attempt) {
    for (const bool extensionPort : {true, false}) {
      SCOPED_TRACE(attempt * 2 + extensionPort);
      HostClient outsider(kOutsider, extensionPort ? fixture->ExtPort() : fixture->LdkPort());
      if (extensionPort && outsider.WaitConnected()) outsider.Send("301");
      ASSERT_TRUE(outsider.WaitClosed());
      EXPECT_EQ(outsider.Received().size(), 0);
    }
  }
  RingTwice(1);
  ASSERT_TRUE(desk.WaitBytes(kAck + 2 * kRecord));
  EXPECT_EQ(Lines(QStringLiteral("127.0.0.2 클라이언트는 포트")), 1);
}

TEST_F(OpenPortsTest, HostOverItsLimitIsRefusedAndSilentExtensionClientsAreLetGo) {
  HostClient registered(QStringLiteral("127.0.0.4"), fixture->ExtPort());
  ASSERT_TRUE(registered.Register("301"));
  HostClient silent(QStringLiteral("127.0.0.4"), fixture->ExtPort());
  ASSERT_TRUE(silent.WaitConnected());

  std::deque<HostClient> crowd;
  for (int n = 0; n < 25; ++n) crowd.emplace_back(kOutsider, fixture->LdkPort());
  const auto greetedAndRefused = [&] {
    std::pair<int, int> counts;
    for (HostClient& client : crowd) {
      counts.first += client.Received().size() == GreetingText().size();
      counts.second += client.IsClosed() && client.Received().isEmpty();
    }
    return counts;
  };
  WaitUntil([&] { return greetedAndRefused() == std::pair(20, 5); }, kNoticeWaitMs);
  EXPECT_EQ(greetedAndRefused(), std::pair(20, 5));
  HostClient desk(kDesk, fixture->LdkPort());
  EXPECT_TRUE(desk.WaitBytes(GreetingText().size()));
  EXPECT_EQ(Lines(QStringLiteral("127.0.0.2 클라이언트의 연결이 20개를 넘어")), 1);

  // The registered client's deadline passed before the silent one's.
  ASSERT_TRUE(silent.WaitClosed());
  EXPECT_EQ(silent.Received().size(), 0);
  RingTwice(1);
  ASSERT_TRUE(registered.WaitBytes(kAck + 2 * kRecord));
  EXPECT_EQ(Lines(QStringLiteral("127.0.0.4 클라이언트가 2초 안에 등록하지")), 1);
}

TEST_P(TakeOverTest, RowPassesOnlyAsTheSettingAllows) {
  HostClient desk(kDesk, fixture->ExtPort()), other(kOutsider, fixture->ExtPort()),
      reconnected(kDesk, fixture->ExtPort());
  HostClient* const clients[] = {&desk, &other, &reconnected};
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(clients[step]->Register("301"));
    RingTwice(10 * step);
    const std::vector<int>& expected = GetParam().second[size_t(step)];
    const auto records = [&] {
      std::vector<int> held;
      for (int client = 0; client <= step; ++client) {
        held.push_back(int((clients[client]->Received().size() - kAck) / kRecord));
      }
      return held;
    };
    WaitUntil([&] { return records() == expected; }, kNoticeWaitMs);
    EXPECT_EQ(records(), expected);
  }
}

// Another host gets a row of its own unless any host may take rows over;
// the desk's reconnection takes its own row back either way.
INSTANTIATE_TEST_SUITE_P(Hosts, TakeOverTest,
                         testing::Values(TakeOver{"", {{2}, {4, 2}, {4, 4, 2}}},
                                         TakeOver{"TAKEOVERANYHOST=1\n",
                                                  {{2}, {2, 2}, {2, 2, 2}}}));

}  // namespace
