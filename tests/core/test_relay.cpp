// The client relay through real TCP connections on loopback: greeting,
// registration, call notices, closing, and clients that misbehave.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QHostInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <array>
#include <memory>
#include <vector>

#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "core/relay/ipv4text.h"
#include "core/text/cp949.h"
#include "support/qtwait.h"
#include "support/testcore.h"

namespace {

const QByteArray kAck("\x11\x55\xFE\x00", 4);
const QByteArray kCaller("0212345678");
const QByteArray kLoopback("127.0.0.1");
const QByteArray kGreeting = "============ Orvana Tarvex" +
                             QByteArray::fromHex("b7ce20c1a2bcd320b5c7befabdc0b4cfb4d92e") +
                             " ============\n";

QByteArray Utf8AsCp949(const char* utf8) { return ToCp949(QString::fromUtf8(utf8)); }

CallNotice Notice(qint32 accountExt, qint32 state = kCallStateRinging, qint32 inExten = 4567) {
  return MakeCallNotice(accountExt, inExten, kCaller, state);
}

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core = StartCore(env);
    core->SetLogType(1);
  }

  const ActivityListModel& Activity() const { return core->Activity().List(); }
  const ClientListModel& Rows() const { return core->Relay().Clients(); }
  const ClientTable& ExtensionClients() const {
    return core->Relay().Registry().Table(kExtensionClient);
  }
  const ClientTable& LdkClients() const { return core->Relay().Registry().Table(kLdkClient); }

  int RowOf(const QByteArray& text) const {
    for (int row = 0; row < Rows().GetItemCount(); ++row) {
      if (Rows().GetItemText(row, 0) == text) return row;
    }
    return -1;
  }

  int CountActivityLines(const QByteArray& line) const {
    int count = 0;
    for (int i = 0; i < Activity().Count(); ++i) count += Activity().Line(i) == line;
    return count;
  }

  bool WaitForTopLine(const QByteArray& line) const {
    return WaitUntil([&] { return Activity().Count() > 0 && Activity().Line(0) == line; });
  }

  // Connects count clients and waits until the relay has entered them.
  std::vector<std::unique_ptr<TestClient>> Connect(quint16 port, int count,
                                                   int receiveBufferBytes = 0) {
    const ClientTable& table = port == env.ldkPort ? LdkClients() : ExtensionClients();
    const size_t expected = table.size() + size_t(count);
    std::vector<std::unique_ptr<TestClient>> clients;
    // One at a time, so that the relay takes each before the backlog fills.
    for (int i = 0; i < count; ++i) {
      clients.push_back(std::make_unique<TestClient>(port, receiveBufferBytes));
      EXPECT_TRUE(clients.back()->IsConnected());
      EXPECT_TRUE(WaitUntil([&] { return table.size() == expected - size_t(count - 1 - i); }));
    }
    return clients;
  }
  std::unique_ptr<TestClient> ConnectOne(quint16 port, int receiveBufferBytes = 0) {
    return std::move(Connect(port, 1, receiveBufferBytes).front());
  }

  // Sends text and waits for one more acknowledgement.
  static bool Register(TestClient& client, const QByteArray& text) {
    const qsizetype before = client.Received().size();
    return client.Send(text) && client.WaitForBytes(before + kAck.size()) &&
           client.Received().mid(before) == kAck;
  }

  // The record of the client the row belongs to.
  const MEMBER& MemberOfRow(int row) const {
    const ClientRegistry& registry = core->Relay().Registry();
    return *registry.Owner(registry.Rows().at(size_t(row)));
  }

  bool WaitForExtensionClients(size_t count) const {
    return WaitUntil([&] { return ExtensionClients().size() == count; });
  }

  TestEnvironment env;
  std::unique_ptr<CentrixCore> core;
};

TEST_F(RelayTest, LdkClientIsGreetedAndExtensionClientIsNot) {
  core->SetLogType(0);
  auto ldk = ConnectOne(env.ldkPort);
  ASSERT_TRUE(ldk->WaitForBytes(kGreeting.size()));
  EXPECT_EQ(ldk->Received(), kGreeting);
  // Written whatever the log type.
  ASSERT_EQ(Activity().Count(), 1);
  EXPECT_EQ(Activity().Line(0),
            QByteArray::fromHex("4c444b353035b7ce20c1a2bcd3c7d120c5acb6f3c0ccbef0c6aeb0a120c0d6"
                                "bdc0b4cfb4d92e"));

  // An extension client hears nothing before its first acknowledgement, and
  // its accept is shown only with the debug log type.
  auto quiet = ConnectOne(env.extPort);
  ASSERT_TRUE(Register(*quiet, "5"));
  EXPECT_EQ(quiet->Received(), kAck);
  EXPECT_EQ(Activity().Count(), 1);
  core->SetLogType(1);
  auto shown = ConnectOne(env.extPort);
  EXPECT_EQ(Activity().Line(0), "Accept - IP: 127.0.0.1");
  for (const auto& [handle, member] : ExtensionClients()) EXPECT_EQ(member->szIP, kLoopback);
}

TEST_F(RelayTest, RegistrationNeedsALeadingNumberOtherThanZero) {
  struct Case {
    QByteArray sent;
    QByteArray filed;  // empty: not a registration; the shown text is then sent up to its NUL
  };
  const Case cases[] = {
      {"  42", "  42"},
      {"-7", "-7"},
      {"12,15\r\n", "12,15\r\n"},
      {"12,15", "12,15"},  // differs from the line above only by its line end: a row of its own
      {"42abc", "42abc"},
      {QByteArray("7\0garbage", 9), "7"},
      {"99999999999999999999", "99999999999999999999"},
      {"0", {}},
      {"abc", {}},
      {"   ", {}},
      {"\r\n", {}},
      {"+0x12", {}},
      {QByteArray("\0"
                  "42",
                  3),
       {}},
      {"\xB3\xBB\xBC\xB1 12", {}},  // "내선 12"
  };
  std::vector<std::unique_ptr<TestClient>> clients;  // a client's rows go with it
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent.toHex().toStdString());
    clients.push_back(ConnectOne(env.extPort));
    TestClient* client = clients.back().get();
    if (c.filed.isEmpty()) {
      ASSERT_TRUE(client->Send(c.sent));
      ASSERT_TRUE(WaitForTopLine("Recv - " + QByteArray(c.sent.constData())));
      // The next registration's acknowledgement is the only one that comes.
      ASSERT_TRUE(Register(*client, "9"));
      EXPECT_EQ(client->Received(), kAck);
      EXPECT_EQ(MemberOfRow(RowOf("9")).szExtension, "9");
      continue;
    }
    ASSERT_TRUE(Register(*client, c.sent));
    EXPECT_EQ(Activity().Line(0), "Recv: " + c.filed);
    const int row = RowOf(c.filed);
    ASSERT_GE(row, 0);
    EXPECT_EQ(MemberOfRow(row).szExtension, c.filed);
    EXPECT_EQ(Rows().GetItemText(row, 1), kLoopback);
    EXPECT_EQ(Rows().GetItemText(row, 3), "");
  }
  EXPECT_EQ(Rows().GetItemCount(), 8);  // seven registrations and "9"
}

TEST_F(RelayTest, LongRegistrationIsCutAlikeInRowAndRecord) {
  auto client = ConnectOne(env.extPort);
  for (const char filler : {'a', 'b', 'c', 'd', 'e'}) {
    const qsizetype length = 97 + (filler - 'a');  // 97 to 101 bytes
    const QByteArray text = "1" + QByteArray(length - 1, filler);
    SCOPED_TRACE(length);
    ASSERT_TRUE(Register(*client, text));
    const QByteArray filed = text.left(99);
    const int row = RowOf(filed);
    ASSERT_GE(row, 0);
    EXPECT_EQ(ExtensionClients().begin()->second->szExtension, filed);
  }
  auto longer = ConnectOne(env.extPort);
  ASSERT_TRUE(Register(*longer, "7" + QByteArray(1000, 'x')));
  EXPECT_GE(RowOf("7" + QByteArray(98, 'x')), 0);
}

TEST_F(RelayTest, NoticeReachesEveryRowWhoseTextContainsTheExtension) {
  auto clients = Connect(env.extPort, 2);
  TestClient& a = *clients[0];
  TestClient& b = *clients[1];
  ASSERT_TRUE(Register(a, "12,15"));
  ASSERT_TRUE(Register(b, "300"));

  QByteArray toA = kAck;
  QByteArray toB = kAck;
  for (const qint32 extension : {12, 15, 1, 2, 5, 3, 7, 0, 300}) {
    core->Relay().BroadcastCallNotice(Notice(extension), false);
    const QByteArray text = QByteArray::number(extension);
    if (extension == 0) continue;  // an account without a known extension reaches nobody
    if (QByteArray("12,15").contains(text)) toA += EncodeCallNotice(Notice(extension));
    if (QByteArray("300").contains(text)) toB += EncodeCallNotice(Notice(extension));
  }
  ASSERT_TRUE(a.WaitForBytes(toA.size()));
  ASSERT_TRUE(b.WaitForBytes(toB.size()));
  EXPECT_EQ(a.Received(), toA);
  EXPECT_EQ(b.Received(), toB);
  // The first record, as it stands on the wire.
  EXPECT_EQ(a.Received().mid(kAck.size(), kCallNoticeSize), QByteArray::fromHex("0c000000"
                                                                                "d7110000") +
                                                                kCaller + QByteArray(2 + 4, '\0'));
  EXPECT_EQ(Rows().GetItemText(RowOf("12,15"), 3), "5-4567");
  EXPECT_EQ(Rows().GetItemText(RowOf("300"), 3), "300-4567");
}

TEST_F(RelayTest, SendTypeAlwaysSendsRingingToEveryRow) {
  struct Case {
    bool everyRow;
    qint32 state;
    qint32 accountExt;
    bool toA;  // registered "12,777"
    bool toB;  // registered "300,777"
  };
  const Case cases[] = {
      {false, kCallStateRinging, 12, true, false}, {false, kCallStateRinging, 99, false, false},
      {false, kCallStateAnswer, 300, false, true}, {true, kCallStateRinging, 99, true, true},
      {false, kCallStateAnswer, 99, false, false}, {false, kCallStateAnswer, 12, true, false},
      {true, kCallStateRinging, 0, false, false},
  };
  auto clients = Connect(env.extPort, 2);
  ASSERT_TRUE(Register(*clients[0], "12,777"));
  ASSERT_TRUE(Register(*clients[1], "300,777"));
  QByteArray toA = kAck;
  QByteArray toB = kAck;
  for (const Case& c : cases) {
    const CallNotice notice = Notice(c.accountExt, c.state);
    core->Relay().BroadcastCallNotice(notice, c.everyRow);
    if (c.toA) toA += EncodeCallNotice(notice);
    if (c.toB) toB += EncodeCallNotice(notice);
  }
  // Both get the last notice, so anything sent by mistake shows before it.
  core->Relay().BroadcastCallNotice(Notice(777), false);
  toA += EncodeCallNotice(Notice(777));
  toB += EncodeCallNotice(Notice(777));
  ASSERT_TRUE(clients[0]->WaitForBytes(toA.size()));
  ASSERT_TRUE(clients[1]->WaitForBytes(toB.size()));
  EXPECT_EQ(clients[0]->Received(), toA);
  EXPECT_EQ(clients[1]->Received(), toB);
}

TEST_F(RelayTest, ClientOwningTwoSelectedRowsGetsTheNoticeTwice) {
  auto client = ConnectOne(env.extPort);
  ASSERT_TRUE(Register(*client, "12"));
  ASSERT_TRUE(Register(*client, "15"));
  ASSERT_TRUE(Register(*client, "12"));  // the same text again: acknowledged, no new row
  EXPECT_EQ(Rows().GetItemCount(), 2);
  EXPECT_EQ(ExtensionClients().begin()->second->szExtension, "12");

  core->Relay().BroadcastCallNotice(Notice(1), false);
  const QByteArray record = EncodeCallNotice(Notice(1));
  ASSERT_TRUE(client->WaitForBytes(3 * kAck.size() + 2 * record.size()));
  EXPECT_EQ(client->Received().mid(3 * kAck.size()), record + record);
}

TEST_F(RelayTest, ClosingRemovesEveryRowOfThatClientOnly) {
  auto clients = Connect(env.extPort, 2);
  ASSERT_TRUE(Register(*clients[0], "12"));
  ASSERT_TRUE(Register(*clients[0], "15"));
  ASSERT_TRUE(Register(*clients[1], "300"));
  const int activityLines = Activity().Count();

  clients[0]->Close();
  ASSERT_TRUE(WaitForExtensionClients(1));
  ASSERT_EQ(Rows().GetItemCount(), 1);
  EXPECT_EQ(Rows().GetItemText(0, 0), "300");
  EXPECT_EQ(Activity().Count(), activityLines);  // a client goes without a line

  // Connected and gone without a word: nothing stays behind.
  ConnectOne(env.extPort)->Close();
  ASSERT_TRUE(WaitForExtensionClients(1));
  EXPECT_EQ(Rows().GetItemCount(), 1);

  // An LDK505 client's close leaves the rows alone.
  ConnectOne(env.ldkPort)->Close();
  ASSERT_TRUE(WaitUntil([&] { return LdkClients().empty(); }));
  EXPECT_EQ(Rows().GetItemCount(), 1);
}

TEST_F(RelayTest, RowBelongsToTheClientThatRegisteredItsTextLast) {
  auto clients = Connect(env.extPort, 2);
  ASSERT_TRUE(Register(*clients[0], "300"));
  const QByteArray firstHandle = Rows().GetItemText(RowOf("300"), 2);
  ASSERT_TRUE(Register(*clients[1], "300"));
  ASSERT_EQ(Rows().GetItemCount(), 1);
  const QByteArray secondHandle = Rows().GetItemText(0, 2);
  EXPECT_NE(secondHandle, firstHandle);

  // Notices follow the row to its new owner.
  core->Relay().BroadcastCallNotice(Notice(300), false);
  ASSERT_TRUE(clients[1]->WaitForBytes(kAck.size() + kCallNoticeSize));

  clients[0]->Close();
  ASSERT_TRUE(WaitForExtensionClients(1));
  ASSERT_EQ(Rows().GetItemCount(), 1);
  EXPECT_EQ(Rows().GetItemText(0, 2), secondHandle);
  clients[1]->Close();
  ASSERT_TRUE(WaitForExtensionClients(0));
  EXPECT_EQ(Rows().GetItemCount(), 0);
  EXPECT_EQ(clients[0]->Received(), kAck);
}

TEST_F(RelayTest, LdkClientsGetTheRingAndNoticeLines) {
  const int before = Activity().Count();
  core->Relay().BroadcastCallNotice(Notice(123), false);
  EXPECT_EQ(Activity().Count(), before);  // no LDK505 client: nothing shown

  auto clients = Connect(env.ldkPort, 2);
  const qsizetype greeting = kGreeting.size();
  for (auto& client : clients) ASSERT_TRUE(client->WaitForBytes(greeting));

  const struct {
    qint32 inExten;
    QByteArray lead;
  } cases[] = {{7, "007"}, {45, "045"}, {1234, "234"}, {1005, "005"}, {-5, "00-5"}, {4567, "567"}};
  QByteArray expected;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inExten);
    const int shown = Activity().Count();
    core->Relay().BroadcastCallNotice(Notice(123, kCallStateRinging, c.inExten), false);
    core->Relay().BroadcastCallNotice(Notice(0, kCallStateRinging, c.inExten),
                                      false);  // reaches nobody
    const QByteArray ring = "\x07" + c.lead + " : 0212345678\n";
    const QByteArray notice = "\x06\x06" + c.lead + " : 0212345678 ->  123\n";
    expected += ring + notice;
    EXPECT_EQ(Activity().Count(), shown + 4);
    EXPECT_EQ(CountActivityLines(ring), 2);
    EXPECT_EQ(CountActivityLines(notice), 2);
  }
  for (auto& client : clients) {
    ASSERT_TRUE(client->WaitForBytes(greeting + expected.size()));
    EXPECT_EQ(client->Received().mid(greeting), expected);
  }
}

TEST(RelayPortTest, TakenPortLeavesTheOtherPortServing) {
  for (const bool extensionPortTaken : {true, false}) {
    SCOPED_TRACE(extensionPortTaken);
    TestEnvironment env;
    QTcpServer otherProgram;
    ASSERT_TRUE(
        otherProgram.listen(QHostAddress::AnyIPv4, extensionPortTaken ? env.extPort : env.ldkPort));
    auto core = StartCore(env);
    EXPECT_NE(core->Relay().Server(kExtensionClient).isListening(), extensionPortTaken);
    EXPECT_EQ(core->Relay().Server(kLdkClient).isListening(), extensionPortTaken);

    const QByteArray host =
        FirstIpv4Text(QHostInfo::fromName(QHostInfo::localHostName()).addresses());
    EXPECT_EQ(core->Relay().HostAddress(), host);

    TestClient client(extensionPortTaken ? env.ldkPort : env.extPort);
    if (extensionPortTaken) {
      EXPECT_TRUE(client.WaitForBytes(kGreeting.size()));
    } else {
      ASSERT_TRUE(client.Send("12"));
      EXPECT_TRUE(client.WaitForBytes(kAck.size()));
      EXPECT_EQ(client.Received(), kAck);
    }
  }
}

TEST_F(RelayTest, ClientThatStopsReadingIsDroppedWithoutHoldingUpTheOthers) {
  core->SetLogType(0);
  auto stuck = ConnectOne(env.extPort, 1024);
  ASSERT_TRUE(stuck->Send("777"));
  ASSERT_TRUE(WaitUntil([&] { return RowOf("777") >= 0; }));
  auto others = Connect(env.extPort, 100);
  for (size_t i = 0; i < others.size(); ++i)
    ASSERT_TRUE(others[i]->Send("5000," + QByteArray::number(qulonglong(i))));
  for (auto& other : others) ASSERT_TRUE(other->WaitForBytes(kAck.size()));

  // Notices for the stuck client pile up; between the piles one goes to everyone else.
  const CallNotice toStuck = Notice(777);
  const CallNotice toOthers = Notice(5000, kCallStateRinging, 1234);
  int noticesToOthers = 0;
  for (int pile = 0; pile < 3000 && RowOf("777") >= 0; ++pile) {
    for (int i = 0; i < 200; ++i) core->Relay().BroadcastCallNotice(toStuck, false);
    core->Relay().BroadcastCallNotice(toOthers, false);
    ++noticesToOthers;
    QCoreApplication::processEvents();
  }
  ASSERT_LT(RowOf("777"), 0);
  EXPECT_EQ(ExtensionClients().size(), others.size());
  EXPECT_EQ(
      CountActivityLines(kLoopback + Utf8AsCp949(" 클라이언트가 수신하지 않아 연결을 끊었습니다.")),
      1);
  EXPECT_GT(noticesToOthers, 1);
  core->Relay().BroadcastCallNotice(toOthers, false);
  ++noticesToOthers;

  const QByteArray record = EncodeCallNotice(toOthers);
  for (auto& other : others) {
    ASSERT_TRUE(other->WaitForBytes(kAck.size() + noticesToOthers * record.size()));
    EXPECT_EQ(other->Received(), kAck + record.repeated(noticesToOthers));
  }
  // The stuck client gets what was handed over before the drop, then the end.
  EXPECT_TRUE(stuck->WaitForPeerClose());
}

TEST_F(RelayTest, SlowReaderGetsEveryNoticeInOrderWhileTheSystemHoldsSomeBack) {
  core->SetLogType(0);
  auto slow = ConnectOne(env.extPort, 1024);
  ASSERT_TRUE(Register(*slow, "12"));
  const QTcpSocket* socket = ExtensionClients().begin()->second->pSocket->findChild<QTcpSocket*>();
  ASSERT_NE(socket, nullptr);
  // Small buffers on both sides, so that the system soon holds notices back.
  const int sendBufferBytes = 4096;
  ASSERT_EQ(setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &sendBufferBytes,
                       sizeof sendBufferBytes),
            0);

  QByteArray expected = kAck;
  int sequence = 0;
  const auto broadcast = [&](int count) {
    for (int i = 0; i < count; ++i) {
      const CallNotice notice =
          MakeCallNotice(12, 4567, "010" + QByteArray::number(++sequence), kCallStateRinging);
      core->Relay().BroadcastCallNotice(notice, false);
      expected += EncodeCallNotice(notice);
    }
    QCoreApplication::processEvents();
  };
  // More than the system takes while the client reads nothing, less than
  // the limit for a client that has stopped reading.
  broadcast(1500);
  EXPECT_GT(socket->bytesToWrite(), 0);
  broadcast(200);  // joins what is held back, behind it
  ASSERT_TRUE(slow->WaitForBytes(expected.size()));
  broadcast(100);  // straight out again once all has gone
  ASSERT_TRUE(slow->WaitForBytes(expected.size()));
  EXPECT_EQ(slow->Received(), expected);
  EXPECT_EQ(ExtensionClients().size(), 1u);
}

TEST_F(RelayTest, NoticeLeftForAConnectionThatEndedGoesToNoOtherDescriptor) {
  auto client = ConnectOne(env.extPort);
  ASSERT_TRUE(Register(*client, "12"));
  CClientSocket* relayed = ExtensionClients().begin()->second->pSocket.get();
  QTcpSocket* socket = relayed->findChild<QTcpSocket*>();
  ASSERT_NE(socket, nullptr);
  const qintptr number = socket->socketDescriptor();

  // A notice handed over but not yet flushed.
  relayed->Send(EncodeCallNotice(Notice(12)));
  // Before the notice goes out, the connection fails and Qt closes its
  // descriptor; the system gives the number to the next socket made.
  socket->abort();
  std::vector<std::array<int, 2>> pairs;
  while (pairs.size() < 100 &&
         (pairs.empty() || (pairs.back()[0] != number && pairs.back()[1] != number))) {
    std::array<int, 2> pair{};
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair.data()), 0);
    pairs.push_back(pair);
  }
  ASSERT_TRUE(pairs.back()[0] == number || pairs.back()[1] == number);
  QCoreApplication::processEvents();

  for (const auto& [first, second] : pairs) {
    char byte = 0;
    EXPECT_EQ(recv(first, &byte, 1, MSG_DONTWAIT), -1);
    EXPECT_EQ(recv(second, &byte, 1, MSG_DONTWAIT), -1);
    close(first);
    close(second);
  }
}

TEST_F(RelayTest, MisbehavingClientsLeaveTheRelayServingEveryoneElse) {
  core->SetLogType(0);
  QByteArray garbage(64 * 1024, '\0');
  QRandomGenerator random(42);
  for (char& byte : garbage) byte = char(random.bounded(256));

  struct Case {
    const char* name;
    QByteArray flood;
    bool closes;  // the client leaves after its flood
    bool halfCloses;
  };
  const Case cases[] = {
      {"binary garbage", garbage, false, false},
      {"binary garbage, then gone", garbage, true, false},
      {"1 MiB of letters, then gone", QByteArray(1 << 20, 'x'), true, false},
      {"1 MiB of digits, then gone", QByteArray(1 << 20, '1'), true, false},
      {"registered, then half-closed", "13", false, true},
  };
  auto ldk = ConnectOne(env.ldkPort);
  auto good = ConnectOne(env.extPort);
  ASSERT_TRUE(Register(*good, "12"));
  QByteArray toGood = kAck;
  std::vector<std::unique_ptr<TestClient>> stayers;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto hostile = ConnectOne(env.extPort);
    ASSERT_TRUE(hostile->Send(c.flood));
    if (c.halfCloses) {
      ASSERT_TRUE(hostile->WaitForBytes(kAck.size()));
      hostile->ShutdownWrite();
      // Taken as a close: the relay ends its side too and drops the rows.
      EXPECT_TRUE(hostile->WaitForPeerClose());
      ASSERT_TRUE(WaitForExtensionClients(1 + stayers.size()));
    } else if (c.closes) {
      hostile->Close();
      // Gone only after all it sent has been read.
      ASSERT_TRUE(WaitForExtensionClients(1 + stayers.size()));
    } else {
      stayers.push_back(std::move(hostile));
    }

    // Everyone else is still served, and newcomers are still taken.
    core->Relay().BroadcastCallNotice(Notice(12), false);
    toGood += EncodeCallNotice(Notice(12));
    ASSERT_TRUE(good->WaitForBytes(toGood.size()));
    EXPECT_EQ(good->Received(), toGood);
    auto newcomer = ConnectOne(env.extPort);
    EXPECT_TRUE(Register(*newcomer, "3"));
    newcomer->Close();
    ASSERT_TRUE(WaitForExtensionClients(1 + stayers.size()));
  }
  EXPECT_EQ(RowOf("12"), 0);
  EXPECT_EQ(LdkClients().size(), 1u);
  const qsizetype ldkBytes = ldk->Received().size();
  core->Relay().BroadcastCallNotice(Notice(12), false);
  EXPECT_TRUE(ldk->WaitForBytes(ldkBytes + 1));
}

TEST_F(RelayTest, CloseAllClientsEndsEveryConnectionAndKeepsTheRows) {
  auto extension = ConnectOne(env.extPort);
  auto ldk = ConnectOne(env.ldkPort);
  ASSERT_TRUE(Register(*extension, "12"));
  // A notice of the same pass still goes out before the end.
  core->Relay().BroadcastCallNotice(Notice(12), false);
  core->Relay().CloseAllClients();
  EXPECT_TRUE(ExtensionClients().empty());
  EXPECT_TRUE(LdkClients().empty());
  EXPECT_EQ(Rows().GetItemCount(), 1);
  EXPECT_TRUE(extension->WaitForPeerClose());
  EXPECT_EQ(extension->Received(), kAck + EncodeCallNotice(Notice(12)));
  EXPECT_TRUE(ldk->WaitForPeerClose());
  EXPECT_TRUE(ldk->Received().endsWith(LdkNoticeLine(Notice(12))));
}

}  // namespace
