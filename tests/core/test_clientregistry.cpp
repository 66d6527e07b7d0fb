// Who owns the rows of the clients list: rows handed back when their owner
// goes, a bound on one client's rows, clients named by ids that are never
// reused, and notices that leave at once in a burst of telephony events.
#include <gtest/gtest.h>
#include <poll.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTcpSocket>
#include <algorithm>
#include <memory>
#include <vector>

#include "core/config/settingtypes.h"
#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "core/text/cp949.h"
#include "support/faketelcontrol.h"
#include "support/qtwait.h"
#include "support/testcore.h"

namespace {

const QByteArray kAck("\x11\x55\xFE\x00", 4);
const QByteArray kCaller("0212345678");

CallNotice Notice(qint32 accountExt) {
  return MakeCallNotice(accountExt, 4567, kCaller, kCallStateRinging);
}

class ClientRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { core = StartCore(env, factory ? factory : TelControlFactory()); }

  ClientRelay& Relay() { return core->Relay(); }
  const ClientTable& ExtensionClients() { return Relay().Registry().Table(kExtensionClient); }

  std::unique_ptr<TestClient> Connect() {
    const size_t before = ExtensionClients().size();
    auto client = std::make_unique<TestClient>(env.extPort);
    EXPECT_TRUE(WaitUntil([&] { return ExtensionClients().size() == before + 1; }));
    return client;
  }

  static bool Register(TestClient& client, const QByteArray& text) {
    const qsizetype before = client.Received().size();
    return client.Send(text) && client.WaitForBytes(before + kAck.size()) &&
           client.Received().mid(before) == kAck;
  }

  // The descriptor column of the row with text, or empty when there is none.
  QByteArray HandleOfRow(const QByteArray& text) {
    const ClientListModel& rows = Relay().Clients();
    for (int row = 0; row < rows.GetItemCount(); ++row) {
      if (rows.GetItemText(row, 0) == text) return rows.GetItemText(row, 2);
    }
    return {};
  }

  // Every record a client got after its acknowledgements.
  static QByteArray NoticesOf(TestClient& client, int acks) {
    return client.Received().mid(acks * kAck.size());
  }

  TelControlFactory factory;
  TestEnvironment env;
  std::unique_ptr<CentrixCore> core;
};

TEST_F(ClientRegistryTest, RowGoesBackToTheLatestOtherRegistrantWhenItsOwnerLeaves) {
  struct Case {
    const char* name;
    // Registrations in order: client index and text. The last registrant of
    // "300" then leaves.
    std::vector<std::pair<int, QByteArray>> registrations;
    int heir;  // -1: the row goes
  };
  const Case cases[] = {
      {"first registrant gets it back", {{0, "300"}, {1, "300"}}, 0},
      {"the later of two earlier registrants", {{0, "300"}, {2, "300"}, {1, "300"}}, 2},
      {"the later of two, other order", {{2, "300"}, {0, "300"}, {1, "300"}}, 0},
      {"a registrant that moved on is no heir", {{0, "300"}, {0, "301"}, {1, "300"}}, -1},
      {"nobody else registered it", {{1, "300"}}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 3; ++i) clients.push_back(Connect());
    std::vector<int> acks(3, 0);
    for (const auto& [index, text] : c.registrations) {
      ASSERT_TRUE(Register(*clients[size_t(index)], text));
      ++acks[size_t(index)];
    }
    clients[1]->Close();
    ASSERT_TRUE(WaitUntil([&] { return ExtensionClients().size() == 2; }));

    if (c.heir < 0) {
      EXPECT_TRUE(HandleOfRow("300").isEmpty());
    } else {
      const MEMBER* heir = nullptr;
      for (const auto& [id, member] : ExtensionClients()) {
        if (member->registeredAt > 0 && member->szExtension == "300" &&
            (!heir || heir->registeredAt < member->registeredAt)) {
          heir = member.get();
        }
      }
      ASSERT_NE(heir, nullptr);
      EXPECT_EQ(HandleOfRow("300"), QByteArray::number(heir->pSocket->Handle()));
      // The heir gets notices again; nobody else does.
      Relay().BroadcastCallNotice(Notice(300), false);
      TestClient& expected = *clients[size_t(c.heir)];
      ASSERT_TRUE(expected.WaitForBytes(acks[size_t(c.heir)] * kAck.size() + kCallNoticeSize));
      EXPECT_EQ(NoticesOf(expected, acks[size_t(c.heir)]), EncodeCallNotice(Notice(300)));
    }
    const int other = c.heir == 0 ? 2 : 0;
    QCoreApplication::processEvents();
    EXPECT_TRUE(NoticesOf(*clients[size_t(other)], acks[size_t(other)]).isEmpty());
    clients.clear();
    ASSERT_TRUE(WaitUntil([&] { return ExtensionClients().empty(); }));
    EXPECT_EQ(Relay().Clients().GetItemCount(), 0);
  }
}

// Which rows a notice reaches is kept between notices: it must follow rows
// that go (the rest move up) and rows that come.
TEST_F(ClientRegistryTest, NoticeFollowsRowsThatComeAndGo) {
  std::vector<std::unique_ptr<TestClient>> clients;
  for (const QByteArray text : {"301", "302", "301,302"}) {
    clients.push_back(Connect());
    ASSERT_TRUE(Register(*clients.back(), text));
  }
  // Each ring on 301, then whether client index got exactly count notices.
  const auto ring = [&] { Relay().BroadcastCallNotice(Notice(301), false); };
  const auto got = [&](int index, int count) {
    TestClient& client = *clients[size_t(index)];
    return client.WaitForBytes(kAck.size() + count * kCallNoticeSize) &&
           NoticesOf(client, 1).size() == count * kCallNoticeSize;
  };
  ring();
  EXPECT_TRUE(got(0, 1));
  clients[1]->Close();  // the rows after its row move up
  ASSERT_TRUE(WaitUntil([&] { return ExtensionClients().size() == 2; }));
  ring();
  EXPECT_TRUE(got(2, 2));
  clients.push_back(Connect());
  ASSERT_TRUE(Register(*clients.back(), "9301"));  // a row of its own, named by 301
  ring();
  EXPECT_TRUE(got(3, 1));
  EXPECT_TRUE(got(2, 3));
  EXPECT_TRUE(got(0, 3));
}

TEST_F(ClientRegistryTest, OneClientOwnsAtMostTheBoundOfRows) {
  const int bound = ClientRegistry::kMaxRowsPerClient;
  auto greedy = Connect();
  auto other = Connect();
  ASSERT_TRUE(Register(*other, "9000"));
  for (int i = 0; i < bound; ++i) ASSERT_TRUE(Register(*greedy, QByteArray::number(1000 + i)));
  EXPECT_EQ(Relay().Clients().GetItemCount(), bound + 1);

  const QByteArray line =
      "127.0.0.1" + ToCp949(QString::fromUtf8(" 클라이언트의 등록이 %1개를 넘어 "
                                              "받지 않았습니다: ")
                                .arg(bound));
  // Past the bound: neither a new text nor another client's row is taken,
  // and no acknowledgement comes; its own rows are still acknowledged. Only
  // the first refusal is a line (in debug, so is every text read).
  core->SetLogType(kLogDebug);
  for (const auto& [text, top] :
       {std::pair<QByteArray, QByteArray>{"5555", line + "5555"}, {"9000", "Recv: 9000"}}) {
    SCOPED_TRACE(text.constData());
    ASSERT_TRUE(greedy->Send(text));
    ASSERT_TRUE(WaitUntil([&] {
      return core->Activity().List().Count() > 0 && core->Activity().List().Line(0) == top;
    }));
    EXPECT_EQ(Relay().Clients().GetItemCount(), bound + 1);
  }
  ASSERT_TRUE(Register(*greedy, "1000"));
  EXPECT_EQ(greedy->Received(), kAck.repeated(bound + 1));
  EXPECT_EQ(HandleOfRow("9000"),
            QByteArray::number(
                Relay().Registry().Owner(Relay().Registry().Rows()[0])->pSocket->Handle()));
  EXPECT_EQ(ExtensionClients().begin()->second->szExtension, "1000");

  // Leaving removes all its rows at once and leaves the other's.
  greedy->Close();
  ASSERT_TRUE(WaitUntil([&] { return ExtensionClients().size() == 1; }));
  ASSERT_EQ(Relay().Clients().GetItemCount(), 1);
  EXPECT_EQ(Relay().Clients().GetItemText(0, 0), "9000");
}

// A connection that ends while the relay still reads what it sent frees its
// descriptor number at once, and the next connection may get it while the
// first client's rows are still there: their notices must never reach the
// newcomer.
TEST_F(ClientRegistryTest, NoticeNeverReachesANewcomerOnAReusedDescriptor) {
  int reused = 0;
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    auto leaving = Connect();
    ASSERT_TRUE(Register(*leaving, "12"));
    const MEMBER& member = *ExtensionClients().rbegin()->second;
    const ClientId leavingId = member.id;
    const qintptr leavingHandle = member.pSocket->Handle();
    QPointer<QTcpSocket> relaySide = member.pSocket->findChild<QTcpSocket*>();
    // Many reads' worth of registrations, then gone at once.
    QByteArray burst;
    for (int i = 0; i < 40; ++i) burst += "12" + QByteArray(98, ',') + QByteArray(3996, '\0');
    ASSERT_TRUE(leaving->Send(burst));
    leaving->Close();
    // Qt has seen the end and closed the descriptor; the relay still reads.
    WaitUntil(
        [&] { return !relaySide || relaySide->state() == QAbstractSocket::UnconnectedState; });
    auto newcomer = std::make_unique<TestClient>(env.extPort);
    ASSERT_TRUE(newcomer->IsConnected());
    ASSERT_TRUE(WaitUntil([&] {
      return std::any_of(ExtensionClients().begin(), ExtensionClients().end(),
                         [&](const auto& entry) { return entry.first > leavingId; });
    }));
    const MEMBER& arrived = *ExtensionClients().rbegin()->second;
    if (ExtensionClients().count(leavingId) > 0 && arrived.pSocket->Handle() == leavingHandle) {
      ++reused;
    }
    for (int i = 0; i < 20; ++i) {
      Relay().BroadcastCallNotice(Notice(12), false);
      QCoreApplication::processEvents();
    }
    ASSERT_TRUE(WaitUntil([&] { return ExtensionClients().size() == 1; }));
    Relay().BroadcastCallNotice(Notice(12), false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(newcomer->Received().isEmpty());
    newcomer.reset();
    ASSERT_TRUE(WaitUntil([&] { return ExtensionClients().empty(); }));
  }
  // Rounds where the newcomer got the number of a client still in the
  // table: the case a table keyed by descriptor numbers got wrong.
  RecordProperty("descriptorsReused", reused);
  EXPECT_GT(reused, 0);
}

// Fake controls raise events straight into the core, as a read of the
// telephony connection that holds many events does.
class BurstTest : public ClientRegistryTest {
 protected:
  void SetUp() override {
    factory = controls.Factory();
    ClientRegistryTest::SetUp();
  }
  FakeTelControls controls;
};

TEST_F(BurstTest, FirstNoticeOfABurstLeavesBeforeTheBurstIsHandled) {
  controls[0].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok 301,"));
  auto client = Connect();
  ASSERT_TRUE(Register(*client, "301"));
  const QString ring = QStringLiteral("ISDIAL:0|CALLERID:0212345678|INEXTEN:07012345678|");
  for (int i = 0; i < 50; ++i) {
    controls[0].RaiseRing(ring);
    if (i > 0) continue;
    // No event-loop pass in between: only a notice already sent can arrive.
    QByteArray received;
    for (int wait = 0; wait < 100 && received.size() < kAck.size() + kCallNoticeSize; ++wait) {
      ::poll(nullptr, 0, 10);
      received = client->Received();
    }
    EXPECT_EQ(received.size(), kAck.size() + kCallNoticeSize);
  }
  ASSERT_TRUE(client->WaitForBytes(kAck.size() + 50 * kCallNoticeSize));
}

// A burst that takes longer than a notice may be held holds none back for
// its whole length: with no event-loop pass in between, notices reach the
// client while the rings are still being raised.
TEST_F(BurstTest, NoNoticeIsHeldForTheWholeOfALongBurst) {
  controls[0].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok 301,"));
  auto client = Connect();
  ASSERT_TRUE(Register(*client, "301"));
  const QString ring = QStringLiteral("ISDIAL:0|CALLERID:0212345678|INEXTEN:07012345678|");
  constexpr int kRings = 60;
  for (int i = 0; i < kRings; ++i) {
    controls[0].RaiseRing(ring);
    ::poll(nullptr, 0, 1);  // a millisecond of other work, no event-loop pass
  }
  // What arrived before the pass ends: more than the first notice alone.
  for (int wait = 0; wait < 50 && client->Received().size() <= kAck.size() + kCallNoticeSize;
       ++wait) {
    ::poll(nullptr, 0, 10);
  }
  EXPECT_GT(client->Received().size(), kAck.size() + kCallNoticeSize);
  ASSERT_TRUE(client->WaitForBytes(kAck.size() + kRings * kCallNoticeSize));
}

// Notices right behind the first of a burst may gather, but none may stay
// behind once the pass that raised them ends: each caller arrives, in order,
// with no later event to push it out.
TEST_F(BurstTest, EveryNoticeOfABurstLeavesInOrderWhenItsPassEnds) {
  controls[0].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok 301,"));
  auto client = Connect();
  ASSERT_TRUE(Register(*client, "301"));
  constexpr int kRings = 200;
  for (int i = 0; i < kRings; ++i) {
    controls[0].RaiseRing(
        QStringLiteral("ISDIAL:0|CALLERID:02123%1|INEXTEN:07012345678|").arg(i, 5, 10, QChar('0')));
  }
  QCoreApplication::processEvents();
  const qsizetype expected = kAck.size() + kRings * kCallNoticeSize;
  for (int wait = 0; wait < 100 && client->Received().size() < expected; ++wait) {
    ::poll(nullptr, 0, 10);
  }
  const QByteArray notices = NoticesOf(*client, 1);
  ASSERT_EQ(notices.size(), kRings * kCallNoticeSize);
  for (int i = 0; i < kRings; ++i) {
    const CallNotice notice = DecodeCallNotice(QByteArrayView(notices).sliced(i * kCallNoticeSize));
    EXPECT_EQ(CallerIdText(notice), "02123" + QByteArray::number(i).rightJustified(5, '0')) << i;
  }
}

}  // namespace
