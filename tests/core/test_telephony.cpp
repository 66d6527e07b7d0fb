#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <memory>

#include "core/telephony/networktelcontrol.h"
#include "core/text/cp949.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/televentrecorder.h"
#include "tools/telsim/telephonyserver.h"

namespace {

const QByteArray kLoopback = "127.0.0.1";

TelAccount MakeAccount(const QString& id, const QString& password, const QString& number,
                       int status = 1) {
  TelAccount account;
  account.id = id;
  account.password = password;
  account.number = number;
  account.status = status;
  return account;
}

// A port nobody listens on (it was free a moment ago).
quint16 ClosedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

class NetworkTelControlTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Listen(0));
    server.AddAccount(MakeAccount("agent1", "pw1", "07012345301"));
    server.AddAccount(MakeAccount("agent2", "pw2", "07012345302"));
    control = MakeControl(kFirstTelControlId);
  }

  std::unique_ptr<NetworkTelControl> MakeControl(int controlId, int signInTimeoutMs = 5000) {
    auto made = std::make_unique<NetworkTelControl>(controlId, server.Port(), signInTimeoutMs);
    RecordTelEvents(*made, events);
    return made;
  }

  // Signs in and waits for the answer; the answer's text.
  QString SignIn(NetworkTelControl& target, const QByteArray& id, const QByteArray& pwd) {
    const qsizetype before = TelEventsNamed(events, "LoginResult").size();
    EXPECT_TRUE(target.Login(id, pwd, kLoopback));
    EXPECT_TRUE(WaitUntil([&] { return TelEventsNamed(events, "LoginResult").size() > before; }));
    return TelEventsNamed(events, "LoginResult").value(before).text;
  }

  bool WaitForEvents(qsizetype count) {
    return WaitUntil([&] { return events.size() >= count; });
  }

  TelephonyServer server;
  QList<TelEvent> events;
  std::unique_ptr<NetworkTelControl> control;
};

TEST_F(NetworkTelControlTest, DeliversEachEventWithItsTextOnTheControlId) {
  QStringList sent;
  QObject::connect(
      &server, &TelephonyServer::EventSent, &server,
      [&](const QString&, const QString&, const QString& text, int) { sent.append(text); });
  EXPECT_EQ(SignIn(*control, "agent1", "pw1"),
            "RESULT:LOGIN|STATUS:1|MSG:07012345301,|USERID:agent1|");
  EXPECT_TRUE(control->IsLoggedIn());

  EXPECT_EQ(server.SendRing("agent1", "01012345678", "07077771234", false), 1);
  server.SendHangUp("agent1", "01012345678", "07077771234", "trunk");
  server.SendCallEnd("agent1");
  server.SendRaw("agent1", "Ring", QStringLiteral("CALLERID:01099998888|NAME:홍길동|"));
  ASSERT_TRUE(WaitForEvents(5));

  const QStringList names{"LoginResult", "Ring", "HangUp", "CallEnd", "Ring"};
  ASSERT_EQ(events.size(), names.size());
  for (qsizetype i = 1; i < events.size(); ++i) {
    EXPECT_EQ(events[i].name, names[i]);
    EXPECT_EQ(events[i].controlId, kFirstTelControlId);
    EXPECT_EQ(events[i].text, sent[i - 1]);
  }
}

TEST_F(NetworkTelControlTest, EventsReachOnlyTheControlSignedInAsTheAccount) {
  const int lastId = kFirstTelControlId + kTelControlCount - 1;
  auto other = NetworkTelControlFactory(server.Port())(lastId);
  RecordTelEvents(*other, events);
  QString kind;
  QObject::connect(&server, &TelephonyServer::SignInHandled, &server,
                   [&](const QString& k) { kind = k; });
  ASSERT_TRUE(other->LoginDCS("agent2", "pw2", kLoopback));
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(kind, "LOGINDCS");
  SignIn(*control, "agent1", "pw1");

  server.SendRaw("agent2", "Ring", "for agent2");
  server.SendRaw("agent1", "Ring", "for agent1");
  ASSERT_TRUE(WaitUntil([&] { return TelEventsNamed(events, "Ring").size() == 2; }));
  for (const TelEvent& ring : TelEventsNamed(events, "Ring")) {
    EXPECT_EQ(ring.controlId, ring.text == "for agent1" ? kFirstTelControlId : lastId);
  }
}

TEST_F(NetworkTelControlTest, SignInOutcomesFollowTheAccountTable) {
  server.AddAccount(MakeAccount(QStringLiteral("상담원"), "비번", "301"));
  server.AddAccount(MakeAccount("held", "pw", "07012345303", 0));
  server.AddAccount(MakeAccount("second", "pw", "304", 2));
  TelAccount scripted = MakeAccount("scripted", "pw", "305");
  scripted.loginReply = "STATUS:-3|MSG:maintenance,|";
  server.AddAccount(scripted);
  struct Case {
    QByteArray id, pwd;
    QString reply;
    bool loggedIn;
  };
  const Case cases[] = {
      {"nobody", "pw", "RESULT:LOGIN|STATUS:-1|MSG:USER NOT FOUND|USERID:nobody|", false},
      {"agent1", "wrong", "RESULT:LOGIN|STATUS:-2|MSG:PASSWORD MISMATCH|USERID:agent1|", false},
      {"held", "pw", "RESULT:LOGIN|STATUS:0|MSG:07012345303,|USERID:held|", false},
      {"second", "pw", "RESULT:LOGIN|STATUS:2|MSG:304,|USERID:second|", true},
      {"scripted", "anything", "STATUS:-3|MSG:maintenance,|", false},
      {ToCp949(QStringLiteral("상담원")), ToCp949(QStringLiteral("비번")),
       QStringLiteral("RESULT:LOGIN|STATUS:1|MSG:301,|USERID:상담원|"), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SignIn(*control, c.id, c.pwd), c.reply) << c.id.constData();
    EXPECT_EQ(control->IsLoggedIn(), c.loggedIn) << c.id.constData();
    EXPECT_EQ(server.IsSignedIn(FromCp949(c.id)), c.loggedIn) << c.id.constData();
  }
}

TEST_F(NetworkTelControlTest, TextsOfAnyContentArriveIntact) {
  SignIn(*control, "agent1", "pw1");
  QString everyByte;
  for (char16_t c = 1; c < 0x800; ++c) {
    everyByte.append(QChar(c));
  }
  const QString texts[] = {
      QStringLiteral("tab\there|newline\nand\r\nreturn|"),
      QStringLiteral("back\\slash\\t not an escape\\"),
      QStringLiteral("EVENT\tRing\tnested line\n"),
      QStringLiteral("발신번호:02-123-4567|이름:김철수|"),
      everyByte,
      QStringLiteral(""),
      QString(),
  };
  for (const QString& text : texts) {
    server.SendRaw("agent1", "HangUp", text);
  }
  ASSERT_TRUE(WaitForEvents(1 + std::size(texts)));
  for (size_t i = 0; i < std::size(texts); ++i) {
    EXPECT_EQ(events[1 + i].text, texts[i]) << i;
    EXPECT_EQ(events[1 + i].text.isNull(), texts[i].isNull()) << i;
  }
}

TEST_F(NetworkTelControlTest, MalformedAddressIsRefusedAtOnce) {
  SignIn(*control, "agent1", "pw1");
  const QByteArray addresses[] = {"",           "10.1.2",        "abc",        "::1",
                                  "300.1.1.1",  " 127.0.0.1",    "127.0.0.1 ", "1.2.3.4.5",
                                  "1..2.3",     "127.0.0.1:80",  "localhost",  "0x7f.0.0.1",
                                  "127.0.0.-1", "\xb0\xa1.0.0.1"};
  for (const QByteArray& address : addresses) {
    EXPECT_FALSE(control->Login("agent1", "pw1", address)) << address.constData();
    EXPECT_FALSE(control->LoginDCS("agent1", "pw1", address)) << address.constData();
  }
  // A refused request leaves the existing sign-in alone.
  EXPECT_TRUE(control->IsLoggedIn());
  EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST_F(NetworkTelControlTest, UnreachableServerGivesAFailedLoginResultLater) {
  NetworkTelControl refused(kFirstTelControlId + 1, ClosedPort());
  RecordTelEvents(refused, events);
  ASSERT_TRUE(refused.Login("agent1", "pw1", kLoopback));
  EXPECT_TRUE(events.isEmpty());  // never before Login has returned
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(events[0].name, "LoginResult");
  EXPECT_EQ(events[0].controlId, kFirstTelControlId + 1);
  EXPECT_TRUE(events[0].text.startsWith("RESULT:LOGIN|STATUS:0|MSG:")) << events[0].text;
  EXPECT_FALSE(events[0].text.contains(',')) << "no extension may be read from it";
  EXPECT_FALSE(refused.IsLoggedIn());
}

TEST_F(NetworkTelControlTest, ServerThatNeverAnswersGivesAFailedLoginResult) {
  QTcpServer silent;
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  NetworkTelControl waiting(kFirstTelControlId, silent.serverPort(), 50);
  RecordTelEvents(waiting, events);
  ASSERT_TRUE(waiting.Login("agent1", "pw1", kLoopback));
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_TRUE(events[0].text.startsWith("RESULT:LOGIN|STATUS:0|MSG:")) << events[0].text;
}

TEST_F(NetworkTelControlTest, LogoutSignsOutWithoutFurtherEvents) {
  SignIn(*control, "agent1", "pw1");
  QStringList signedOut;
  QObject::connect(&server, &TelephonyServer::AccountSignedOut, &server,
                   [&](const QString& id) { signedOut.append(id); });
  control->Logout();
  EXPECT_FALSE(control->IsLoggedIn());
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 0; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(signedOut, QStringList{"agent1"});
  EXPECT_EQ(events.size(), 1);
  control->Logout();  // twice is harmless
  EXPECT_EQ(SignIn(*control, "agent1", "pw1").section('|', 1, 1), "STATUS:1");
}

TEST_F(NetworkTelControlTest, ServerDroppingTheLinkIsReportedAndSignInWorksAgain) {
  SignIn(*control, "agent1", "pw1");
  // Half an event, then the close: that half is lost, nothing else.
  server.CloseConnections("agent1", "EVENT\tRing\tCALLERID:0101");
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(events[1].name, "LoginResult");
  EXPECT_TRUE(events[1].text.startsWith("RESULT:LOGIN|STATUS:0|MSG:")) << events[1].text;
  EXPECT_FALSE(control->IsLoggedIn());

  SignIn(*control, "agent1", "pw1");
  server.SendRaw("agent1", "Ring", "after");
  ASSERT_TRUE(WaitForEvents(4));
  EXPECT_EQ(events[3].name, "Ring");
  EXPECT_EQ(events[3].text, "after");
  EXPECT_EQ(TelEventsNamed(events, "Ring").size(), 1);
}

TEST_F(NetworkTelControlTest, JunkFromTheServerIsIgnoredAndTheLinkGoesOn) {
  QByteArray binary;
  for (int i = 0; i < 256; ++i) {
    binary.append(static_cast<char>(i));
  }
  const QByteArray huge(5 * 1024 * 1024, 'x');
  struct Case {
    const char* what;
    QByteArray bytes;
  };
  const Case cases[] = {
      {"plain garbage", "hello world\n"},
      {"blank lines", "\n\r\n\n"},
      {"binary", binary + "\n"},
      {"event without name", "EVENT\n"},
      {"unknown event", "EVENT\tDialTone\tx\n"},
      {"wrong case", "event\tring\tx\nEVENT\tring\tx\n"},
      {"bad escape", "EVENT\tRing\tbad \\q escape\n"},
      {"lone backslash", "EVENT\tRing\tends in \\\n"},
      {"overlong garbage", huge + "\n"},
      {"overlong event", "EVENT\tRing\t" + huge + "\n"},
      {"client command", "LOGOUT\n"},
  };
  SignIn(*control, "agent1", "pw1");
  for (const Case& c : cases) {
    events.clear();
    server.SendBytes("agent1", c.bytes);
    server.SendRaw("agent1", "CallEnd", "marker");
    ASSERT_TRUE(WaitForEvents(1)) << c.what;
    EXPECT_EQ(events.size(), 1) << c.what;
    EXPECT_EQ(events[0].text, "marker") << c.what;
    EXPECT_TRUE(control->IsLoggedIn()) << c.what;
  }
}

TEST_F(NetworkTelControlTest, InvalidUtf8InAnEventIsDeliveredReplaced) {
  SignIn(*control, "agent1", "pw1");
  static const char kLine[] = "EVENT\tRing\tA\xff\xfe\0B\n";
  server.SendBytes("agent1", QByteArray(kLine, sizeof kLine - 1));
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(events[1].text, QStringLiteral("A\ufffd\ufffd") + QChar(0) + QStringLiteral("B"));
}

TEST_F(NetworkTelControlTest, HandlerMaySignOutWhileMoreLinesAreBuffered) {
  SignIn(*control, "agent1", "pw1");
  QObject::connect(control.get(), &CTelBaseOpenApi::Ring, control.get(),
                   [&] { control->Logout(); });
  server.SendBytes("agent1", "EVENT\tRing\tfirst\nEVENT\tRing\tsecond\n");
  ASSERT_TRUE(WaitUntil([&] { return server.ConnectionCount() == 0; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(TelEventsNamed(events, "Ring").size(), 1);
  EXPECT_EQ(events.size(), 2);
}

}  // namespace
