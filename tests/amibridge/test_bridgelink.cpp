// The bridge between the relay's telephony controls and a scripted manager
// interface: sign-ins, every kind of call, and the faults of a PBX link.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QTcpSocket>
#include "amicalls.h"

#include "core/telephony/networktelcontrol.h"
#include "core/telephony/telprotocol.h"
#include "scriptedamipeer.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/televentrecorder.h"
#include "tools/amibridge/amibridge.h"
#include "tools/amibridge/eventtexts.h"

namespace {

const QByteArray kUser = "tarvex";
const QByteArray kSecret = "bridgesecret";
const QString kLoopback = QStringLiteral("127.0.0.1");

struct Control {
  std::unique_ptr<NetworkTelControl> control;
  QList<TelEvent> events;
};

class BridgeLinkTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(peer.Listen()); }

  void StartBridge(AmiTiming timing = {60000, 2000, 100, 400}) {
    BridgeSettings settings;
    settings.ami = {kLoopback, peer.Port(), kUser, kSecret, allowPlainSecret};
    settings.timing = timing;
    settings.listenPort = 0;
    for (const AmiAgent& agent : AmiAgents()) {
      BridgeAccount account;
      account.account = {agent.accountId, agent.password, agent.number, 1, {}};
      account.endpoints = QStringList{agent.endpoint};
      settings.accounts.append(account);
    }
    bridge = std::make_unique<AmiBridge>(settings);
    QString error;
    ASSERT_TRUE(bridge->Start(&error)) << error;
  }

  // A control signed in to the bridge as id; its events are recorded.
  Control& SignIn(const QString& id, const QString& password) {
    auto& c = controls.emplace_back(std::make_unique<Control>());
    c->control = std::make_unique<NetworkTelControl>(1028 + int(controls.size()), bridge->Port());
    RecordTelEvents(*c->control, c->events);
    EXPECT_TRUE(c->control->Login(id.toUtf8(), password.toUtf8(), kLoopback.toUtf8()));
    EXPECT_TRUE(WaitUntil([&] { return !c->events.isEmpty(); }, 10000)) << id;
    return *c;
  }

  // The three agents, signed in once the PBX link is up.
  void SignInAgents() {
    ASSERT_TRUE(WaitUntil([&] { return bridge->IsPbxUp(); }, 10000));
    for (const AmiAgent& agent : AmiAgents()) {
      Control& c = SignIn(agent.accountId, agent.password);
      agents[agent.accountId] = &c;
      ASSERT_TRUE(c.control->IsLoggedIn()) << agent.accountId << " " << c.events.first().text;
    }
  }

  static QStringList Texts(const QList<TelEvent>& events, qsizetype from = 0) {
    QStringList texts;
    for (qsizetype i = from; i < events.size(); ++i) {
      texts.append(events[i].name + QLatin1Char(' ') + events[i].text);
    }
    return texts;
  }

  ScriptedAmiPeer peer{kUser, kSecret};
  bool allowPlainSecret = false;
  std::unique_ptr<AmiBridge> bridge;
  std::vector<std::unique_ptr<Control>> controls;
  QHash<QString, Control*> agents;
};

TEST_F(BridgeLinkTest, SignInsAreAnsweredFromTheAccounts) {
  StartBridge();
  ASSERT_TRUE(WaitUntil([&] { return bridge->IsPbxUp(); }, 10000));
  struct Case {
    QString id;
    QString password;
    QString answer;
    bool signedIn;
  };
  const QList<Case> cases = {
      {"agent1", "secret1", "RESULT:LOGIN|STATUS:1|MSG:07012345301,|USERID:agent1|", true},
      // A wrong password and an unknown ID are told apart by nothing.
      {"agent1", "wrong", "RESULT:LOGIN|STATUS:-2|MSG:ID OR PASSWORD WRONG|USERID:agent1|", false},
      {"nobody", "secret1", "RESULT:LOGIN|STATUS:-2|MSG:ID OR PASSWORD WRONG|USERID:nobody|",
       false},
  };
  for (const Case& c : cases) {
    Control& control = SignIn(c.id, c.password);
    ASSERT_EQ(control.events.size(), 1) << c.id;
    EXPECT_EQ(control.events[0].name, QStringLiteral("LoginResult"));
    EXPECT_EQ(control.events[0].text, c.answer);
    EXPECT_EQ(control.control->IsLoggedIn(), c.signedIn);
  }
  // A connection whose password was wrong hears nothing of the account's calls.
  peer.Play(AmiBytes(AmiCalls()[0].events));
  ASSERT_TRUE(WaitUntil([&] { return controls[0]->events.size() == 4; }, 10000))
      << Texts(controls[0]->events).join('\n');
  EXPECT_EQ(controls[1]->events.size(), 1);
}

TEST_F(BridgeLinkTest, EveryKindOfCallReachesTheAgentsAsTheRelayReadsIt) {
  StartBridge();
  SignInAgents();
  for (const AmiCall& call : AmiCalls()) {
    QHash<QString, qsizetype> before;
    QHash<QString, QStringList> expected;
    for (auto agent = agents.cbegin(); agent != agents.cend(); ++agent) {
      before[agent.key()] = agent.value()->events.size();
    }
    for (const AgentEvent& event : call.expected) {
      const AmiAgent agent = AmiAgents()[event.accountId.back().digitValue() - 1];
      const auto [name, text] = AgentEventText(event, agent.number);
      expected[event.accountId].append(name + QLatin1Char(' ') + text);
    }
    peer.Play(AmiBytes(call.events));
    for (auto agent = agents.cbegin(); agent != agents.cend(); ++agent) {
      const QStringList want = expected.value(agent.key());
      WaitUntil([&] { return agent.value()->events.size() >= before[agent.key()] + want.size(); },
                5000);
      EXPECT_EQ(Texts(agent.value()->events, before[agent.key()]), want)
          << call.name << " at " << agent.key();
    }
  }
}

TEST_F(BridgeLinkTest, SendsTheSecretInClearTextOnlyWhereAllowed) {
  struct Case {
    bool offer;
    bool allowPlain;
    bool up;
  };
  for (const Case c :
       {Case{true, false, true}, Case{false, false, false}, Case{false, true, true}}) {
    peer.SetOfferChallenge(c.offer);
    allowPlainSecret = c.allowPlain;
    const int before = peer.LoginAttempts();
    StartBridge();
    QStringList lines;
    QObject::connect(bridge.get(), &AmiBridge::LogLine,
                     [&](const QString& line) { lines << line; });
    if (!c.up) {
      // Refused, it tells why and tries again later, never with the secret.
      ASSERT_TRUE(WaitUntil([&] { return lines.filter("MD5 challenge").size() >= 2; }, 10000));
      EXPECT_EQ(peer.LoginAttempts(), before);
    } else {
      ASSERT_TRUE(WaitUntil([&] { return bridge->IsPbxUp(); }, 10000)) << c.offer;
      ASSERT_EQ(peer.LoginAttempts(), before + 1);
      const AmiMessage login = peer.Logins().last();
      EXPECT_EQ(login.Value("Username"), kUser);
      EXPECT_EQ(login.Has("Secret"), !c.offer) << c.offer;
      EXPECT_EQ(login.Value("AuthType") == "MD5", c.offer) << c.offer;
    }
    bridge.reset();
    peer.DropConnections();
  }
}

TEST_F(BridgeLinkTest, FailuresFromOneAddressAreSlowedWhileOthersSignInAtOnce) {
  StartBridge();
  ASSERT_TRUE(WaitUntil([&] { return bridge->IsPbxUp(); }, 10000));
  QTcpSocket guesser;
  ASSERT_TRUE(guesser.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
  guesser.connectToHost(kLoopback, bridge->Port());
  QByteArray answers;
  QObject::connect(&guesser, &QTcpSocket::readyRead, [&] { answers += guesser.readAll(); });
  for (int n = 1; n <= 6; ++n) {
    guesser.write(EncodeTelLine({"LOGIN", "agent1", "wrong"}));
    if (n < 6) {
      ASSERT_TRUE(WaitUntil([&] { return answers.count('\n') == n; }, 5000)) << n;
    }
  }
  // The sixth answer waits; another address is answered meanwhile.
  Control& other = SignIn(QStringLiteral("agent2"), QStringLiteral("secret2"));
  EXPECT_TRUE(other.control->IsLoggedIn());
  EXPECT_EQ(answers.count('\n'), 5);
  EXPECT_TRUE(WaitUntil([&] { return answers.count('\n') == 6; }, 10000));
}

TEST_F(BridgeLinkTest, ASecondSessionOfAnAccountClosesTheFirst) {
  StartBridge();
  SignInAgents();
  Control& second = SignIn(QStringLiteral("agent1"), QStringLiteral("secret1"));
  ASSERT_TRUE(second.control->IsLoggedIn());
  Control& first = *agents["agent1"];
  EXPECT_EQ(
      Texts(first.events).mid(1, 1),
      QStringList{"LoginResult RESULT:LOGIN|STATUS:0|MSG:SIGNED IN ELSEWHERE|USERID:agent1|"});
  // Its own retry finds the account taken and leaves the second be.
  ASSERT_TRUE(
      WaitUntil([&] { return Texts(first.events).filter("IN USE ELSEWHERE").size(); }, 5000))
      << Texts(first.events).join('\n');
  peer.Play(AmiBytes(AmiCalls()[0].events));
  ASSERT_TRUE(WaitUntil([&] { return second.events.size() == 4; }, 10000));
  EXPECT_TRUE(second.control->IsLoggedIn());
  EXPECT_EQ(Texts(first.events).filter("Ring").size(), 0);
}

TEST_F(BridgeLinkTest, ARefusedLoginIsRetriedWithGrowingWaitsAndTheAccountsComeBack) {
  peer.SetRefuseLogins(true);
  StartBridge({60000, 2000, 100, 400});
  // Sign-ins meanwhile are told that the PBX is out of reach.
  Control& agent = SignIn(QStringLiteral("agent1"), QStringLiteral("secret1"));
  EXPECT_EQ(agent.events[0].text,
            QStringLiteral("RESULT:LOGIN|STATUS:0|MSG:PBX LINK DOWN|USERID:agent1|"));
  EXPECT_FALSE(agent.control->IsLoggedIn());
  ASSERT_TRUE(WaitUntil([&] { return peer.LoginAttempts() >= 4; }, 10000));
  // Waits of 100, 200, 400 ms: lower bounds hold on any machine (a coarse
  // timer may fire up to 5 % early).
  const QList<qint64>& attempts = peer.LoginTimes();
  EXPECT_GE(attempts[2] - attempts[1], 190);
  EXPECT_GE(attempts[3] - attempts[2], 380);
  // A refusal while down tells the accounts nothing new; the control's own
  // retries (from half a second on) hear the same answer.
  for (const TelEvent& event : agent.events) {
    EXPECT_EQ(event.text, agent.events[0].text) << Texts(agent.events).join('\n').toStdString();
  }

  peer.SetRefuseLogins(false);
  ASSERT_TRUE(WaitUntil([&] { return agent.control->IsLoggedIn(); }, 10000));
  EXPECT_EQ(agent.events.last().text,
            QStringLiteral("RESULT:LOGIN|STATUS:1|MSG:07012345301,|USERID:agent1|"));
}

TEST_F(BridgeLinkTest, ALinkLostMidCallEndsTheCallAndTheAccountsSignBackIn) {
  StartBridge();
  SignInAgents();
  const AmiCall queue = AmiCalls()[4];
  // The three agents ring, the second answers; then the link drops.
  peer.Play(AmiBytes(queue.events.mid(0, 4)));
  ASSERT_TRUE(WaitUntil([&] { return agents["agent2"]->events.size() == 3; }, 5000));
  const int logins = peer.LoginAttempts();
  peer.DropConnections();
  for (const QString id : {"agent1", "agent2", "agent3"}) {
    Control& c = *agents[id];
    ASSERT_TRUE(WaitUntil([&] { return c.control->IsLoggedIn() && c.events.size() >= 5; }, 10000))
        << id << Texts(c.events).join('\n');
    const QStringList after = Texts(c.events).mid(c.events.size() - 3);
    EXPECT_TRUE(after[0].startsWith(QStringLiteral("CallEnd "))) << id << after.join('\n');
    EXPECT_EQ(
        after[1],
        QStringLiteral("LoginResult RESULT:LOGIN|STATUS:0|MSG:PBX LINK DOWN|USERID:%1|").arg(id));
    EXPECT_TRUE(after[2].startsWith(QStringLiteral("LoginResult RESULT:LOGIN|STATUS:1|")));
  }
  EXPECT_EQ(peer.LoginAttempts(), logins + 1);
  // The rest of the lost call ends nothing twice; a new call comes through.
  const qsizetype before = agents["agent1"]->events.size();
  peer.Play(AmiBytes(queue.events.mid(4)));
  peer.Play(AmiBytes(AmiCalls()[0].events));
  ASSERT_TRUE(WaitUntil([&] { return agents["agent1"]->events.size() >= before + 3; }, 5000));
  EXPECT_EQ(Texts(agents["agent1"]->events, before).size(), 3);
}

TEST_F(BridgeLinkTest, GarbageAndOversizedBlocksLeaveTheLinkUp) {
  StartBridge();
  SignInAgents();
  const int logins = peer.LoginAttempts();
  static const char kBinaryStart[] = "\0\xff\xfe no colon here\r\n: empty key\r\n\r\n\r\n";
  QByteArray garbage(kBinaryStart, sizeof kBinaryStart - 1);
  garbage += "Event: DialBegin\r\nDestChannel: Local/301@agents-1;1\r\n\r\n";  // no ids
  garbage += "Event: Hangup\r\nUniqueid: \r\n\r\n";
  garbage += "Event: DialBegin\r\nBig: " + QByteArray(200 * 1024, 'x') + "\r\n\r\n";
  for (int i = 0; i < 5000; ++i) garbage += "Variable: a=" + QByteArray::number(i) + "\r\n";
  garbage += "\r\n";
  for (int i = 0; i < 200; ++i) garbage += QByteArray::number(i % 7) + "\n";
  garbage += "\r\n";
  peer.Play(garbage);
  peer.Play(AmiBytes(AmiCalls()[1].events));
  Control& agent1 = *agents["agent1"];
  ASSERT_TRUE(WaitUntil([&] { return agent1.events.size() >= 4; }, 10000))
      << Texts(agent1.events).join('\n');
  EXPECT_EQ(agent1.events[1].name, QStringLiteral("Ring"));
  EXPECT_TRUE(agent1.events[1].text.contains(QStringLiteral("CALLERNAME:홍길동|")));
  EXPECT_EQ(peer.LoginAttempts(), logins);
  EXPECT_TRUE(agent1.control->IsLoggedIn());
}

TEST_F(BridgeLinkTest, APbxThatStopsAnsweringPingsIsLeftAndReachedAgain) {
  peer.SetAnswerPings(false);
  StartBridge({200, 300, 100, 400});
  SignInAgents();
  Control& agent1 = *agents["agent1"];
  ASSERT_TRUE(WaitUntil([&] { return peer.LoginAttempts() >= 2; }, 10000));
  EXPECT_GE(peer.Pings(), 1);
  peer.SetAnswerPings(true);
  ASSERT_TRUE(WaitUntil([&] { return agent1.control->IsLoggedIn(); }, 10000));
  const int logins = peer.LoginAttempts();
  const int pings = peer.Pings();
  // Answered pings keep the one link.
  ASSERT_TRUE(WaitUntil([&] { return peer.Pings() >= pings + 3; }, 10000));
  EXPECT_EQ(peer.LoginAttempts(), logins);
}

}  // namespace
