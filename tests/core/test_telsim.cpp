#include <gtest/gtest.h>

#include <QTcpSocket>
#include <memory>

#include "core/telephony/networktelcontrol.h"
#include "core/telephony/telprotocol.h"
#include "core/text/eventtext.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/televentrecorder.h"
#include "tools/telsim/commandrunner.h"
#include "tools/telsim/loadgenerator.h"
#include "tools/telsim/servertexts.h"
#include "tools/telsim/telephonyserver.h"

namespace {

QByteArray Field(const QString& text, const QByteArray& key, int gap = 1, char terminator = '|') {
  return GetEventField(text.toUtf8(), key, gap, terminator);
}

TEST(TelsimTextsTest, CarryTheFieldsTheRelayLooksUp) {
  const QString login = LoginAcceptedText("agent1", 1, "07012345301");
  EXPECT_EQ(ParseLooseInt(Field(login, "STATUS")), 1);
  EXPECT_EQ(LastBytes(Field(login, "MSG", 1, ','), 3), "301");
  EXPECT_EQ(ParseLooseInt(Field(LoginNotFoundText("STATUS"), "STATUS")), -1);
  EXPECT_EQ(ParseLooseInt(Field(LoginPasswordErrorText("x"), "STATUS")), -2);
  EXPECT_EQ(Field(LoginNotFoundText("x"), "MSG", 1, ','), "");

  for (const bool isDial : {false, true}) {
    const QString ring = RingText("1.1", "01012345678", "07077771234", isDial);
    EXPECT_EQ(Field(ring, "ISDIAL"), isDial ? "1" : "0");
    EXPECT_EQ(Field(ring, "CALLERID"), "01012345678");
    EXPECT_EQ(Field(ring, "INEXTEN"), "07077771234");
  }
  const QString hangUp = HangUpText("1.1", "01012345678", "07077771234", "301", "0000001a");
  EXPECT_EQ(Field(hangUp, "CHANNEL1:SIP/", 0, '-'), "301");
  EXPECT_EQ(Field(hangUp, "CALLER1ID"), "01012345678");
  EXPECT_EQ(Field(hangUp, "INEXTEN"), "07077771234");
  EXPECT_EQ(
      ParseLooseInt(LastBytes(
          Field(HangUpText("1", "2", "3", kOutsideLinePeer, "4"), "CHANNEL1:SIP/", 0, '-'), 3)),
      0);
}

TEST(TelsimAccountTest, ParsesCommandLineAccounts) {
  struct Case {
    QString text;
    bool valid;
    QString id, password, number;
    int status;
  };
  const Case cases[] = {
      {"agent1:pw:301", true, "agent1", "pw", "301", 1},
      {"agent1:pw:07012345301:-2", true, "agent1", "pw", "07012345301", -2},
      {"agent1::301:0", true, "agent1", "", "301", 0},
      {QStringLiteral("상담원:비번:302"), true, QStringLiteral("상담원"), QStringLiteral("비번"),
       "302", 1},
      {"agent1:pw", false, {}, {}, {}, 0},
      {":pw:301", false, {}, {}, {}, 0},
      {"agent1:pw:301:x", false, {}, {}, {}, 0},
      {"agent1:pw:301:1:9", false, {}, {}, {}, 0},
      {"", false, {}, {}, {}, 0},
  };
  for (const Case& c : cases) {
    const std::optional<TelAccount> account = ParseTelAccount(c.text);
    ASSERT_EQ(account.has_value(), c.valid) << c.text;
    if (account) {
      EXPECT_EQ(account->id, c.id);
      EXPECT_EQ(account->password, c.password);
      EXPECT_EQ(account->number, c.number);
      EXPECT_EQ(account->status, c.status);
    }
  }
}

class TelsimTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Listen(0));
    for (const char* text : {"agent1:pw1:301", "agent2:pw2:302"}) {
      server.AddAccount(*ParseTelAccount(text));
    }
    QObject::connect(&server, &TelephonyServer::EventSent, &server,
                     [this](const QString& id, const QString& name, const QString& text) {
                       sent.append({name, 0, id + ">" + text});
                     });
    QObject::connect(&runner, &CommandRunner::Output, &runner,
                     [this](const QString& line) { output.append(line); });
  }

  NetworkTelControl& SignIn(const QByteArray& id, const QByteArray& pwd) {
    controls.push_back(std::make_unique<NetworkTelControl>(
        kFirstTelControlId + static_cast<int>(controls.size()), server.Port()));
    RecordTelEvents(*controls.back(), events);
    EXPECT_TRUE(controls.back()->Login(id, pwd, "127.0.0.1"));
    EXPECT_TRUE(WaitUntil([&] { return server.IsSignedIn(QString::fromUtf8(id)); }));
    return *controls.back();
  }

  TelephonyServer server;
  CommandRunner runner{server};
  QList<TelEvent> sent;  // name and "id>text" of each event the server sent
  QStringList output;
  QList<TelEvent> events;
  std::vector<std::unique_ptr<NetworkTelControl>> controls;
};

TEST_F(TelsimTest, CommandsSendTheirEvents) {
  SignIn("agent1", "pw1");
  runner.Enqueue("ring agent1 01012345678 07077771234");
  runner.Enqueue("  HANGUP   agent1 01012345678 07077771234 301 ");
  runner.Enqueue("# a comment");
  runner.Enqueue("callend agent1");
  runner.Enqueue("ring agent1 01012345678 07077771234 1");
  runner.Enqueue(QStringLiteral("raw agent1 Ring  이름:홍길동\\t|\\\\"));
  runner.Enqueue("raw agent1 CallEnd ");
  runner.Enqueue("raw agent1 CallEnd");
  ASSERT_TRUE(WaitUntil([&] { return events.size() == 8; }));
  EXPECT_EQ(Field(events[1].text, "CALLERID"), "01012345678");
  EXPECT_EQ(Field(events[1].text, "ISDIAL"), "0");
  EXPECT_EQ(Field(events[2].text, "CHANNEL1:SIP/", 0, '-'), "301");
  EXPECT_EQ(Field(events[2].text, "UNIQUEID"), Field(events[1].text, "UNIQUEID"));
  EXPECT_EQ(events[3].name, "CallEnd");
  EXPECT_EQ(Field(events[4].text, "ISDIAL"), "1");
  EXPECT_EQ(events[5].text, QStringLiteral(" 이름:홍길동\t|\\"));
  EXPECT_TRUE(events[6].text.isEmpty() && !events[6].text.isNull());
  EXPECT_TRUE(events[7].text.isNull());
  EXPECT_EQ(output.filter("error").size(), 0) << output.join('\n');
  EXPECT_EQ(output.size(), 7);  // one echo per event sent, none for the comment
}

TEST_F(TelsimTest, UnreadableCommandsAreReportedAndChangeNothing) {
  const QString bad[] = {"ring",
                         "ring agent1 0101",
                         "ring agent1 0101 0707 2",
                         "callend",
                         "hangup agent1 0101",
                         "raw agent1",
                         "raw agent1 Ring bad\\q",
                         "sleep soon",
                         "sleep -5",
                         "account agent3:pw",
                         "bogus",
                         "quit now"};
  for (const QString& line : bad) {
    output.clear();
    runner.Enqueue(line);
    EXPECT_EQ(output.size(), 1) << line;
    EXPECT_TRUE(output.value(0).startsWith("error:")) << line;
  }
  EXPECT_TRUE(sent.isEmpty());
  EXPECT_TRUE(runner.IsIdle());
}

TEST_F(TelsimTest, WaitAndSleepHoldBackTheFollowingCommands) {
  runner.Enqueue("account agent3:pw3:303");
  runner.Enqueue("wait-login agent3");
  runner.Enqueue("sleep 1");
  runner.Enqueue("ring agent3 01012345678 07077771234");
  EXPECT_FALSE(runner.IsIdle());
  EXPECT_TRUE(sent.isEmpty());

  SignIn("agent3", "pw3");
  ASSERT_TRUE(WaitUntil([&] { return runner.IsIdle(); }));
  ASSERT_TRUE(WaitUntil([&] { return events.size() == 2; }));
  EXPECT_EQ(events[0].name, "LoginResult");
  EXPECT_EQ(events[1].name, "Ring");

  bool quit = false;
  QObject::connect(&runner, &CommandRunner::QuitRequested, [&] { quit = true; });
  runner.Enqueue("sleep 1");
  runner.Enqueue("quit");
  runner.Enqueue("callend agent3");
  ASSERT_TRUE(WaitUntil([&] { return quit; }));
  EXPECT_TRUE(runner.IsIdle());
  EXPECT_EQ(sent.size(), 1);  // nothing after quit
}

TEST_F(TelsimTest, LoadCyclesEachSignedInAccountThroughACall) {
  LoadGenerator load(server);
  EXPECT_FALSE(load.SendNext());
  SignIn("agent1", "pw1");
  SignIn("agent2", "pw2");
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(load.SendNext());
  }
  const QStringList expected = {"Ring agent1",   "Ring agent2",    "HangUp agent1",
                                "HangUp agent2", "CallEnd agent1", "CallEnd agent2"};
  ASSERT_EQ(sent.size(), expected.size());
  for (qsizetype i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].name + " " + sent[i].text.section('>', 0, 0), expected[i]);
  }
  EXPECT_EQ(Field(sent[0].text, "CALLERID"), Field(sent[2].text, "CALLER1ID"));
  EXPECT_EQ(Field(sent[0].text, "INEXTEN"), Field(sent[2].text, "INEXTEN"));
  EXPECT_NE(Field(sent[0].text, "CALLERID"), Field(sent[1].text, "CALLERID"));
  EXPECT_EQ(Field(sent[0].text, "UNIQUEID"), Field(sent[4].text, "UNIQUEID"));

  qint64 finished = -1;
  QObject::connect(&load, &LoadGenerator::Finished, [&](qint64 total) { finished = total; });
  load.Start(2000, 50);
  ASSERT_TRUE(WaitUntil([&] { return finished >= 0; }));
  EXPECT_EQ(finished, 6 + 100);
}

TEST_F(TelsimTest, ServerIgnoresJunkFromAControl) {
  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, server.Port());
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 1; }));
  QByteArray junk = QByteArray(3 * 1024 * 1024, '\0') + "\n";
  junk += "LOGIN\tagent1\n";        // too few fields
  junk += "LOGIN\tagent1\tpw\\\n";  // bad escape
  junk += "login\tagent1\tpw1\n";
  junk += "LOGIN\t" + QByteArray(100 * 1024, 'a') + "\tpw1\n";
  junk += EncodeTelLine({"LOGIN", "agent1", "pw1"});
  client.write(junk);
  QStringList answers;
  QObject::connect(&server, &TelephonyServer::SignInHandled,
                   [&](const QString&, const QString& id) { answers.append(id); });
  ASSERT_TRUE(WaitUntil([&] { return server.IsSignedIn("agent1"); }));
  EXPECT_EQ(answers, QStringList{"agent1"});

  client.write(EncodeTelLine({"LOGOUT"}));
  ASSERT_TRUE(WaitUntil([&] { return !server.IsSignedIn("agent1"); }));
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(server.SendCallEnd("agent1"), 0);
}

}  // namespace
