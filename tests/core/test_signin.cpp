#include <gtest/gtest.h>
#include <optional>

#include "core/telephony/networktelcontrol.h"
#include "core/text/cp949.h"
#include "support/faketelcontrol.h"
#include "support/handlercore.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "tools/telsim/servertexts.h"
#include "tools/telsim/telephonyserver.h"

using namespace handlertest;

namespace {

QByteArray K(const char* utf8) { return ToCp949(QString::fromUtf8(utf8)); }

class SignInTest : public testing::Test {
 protected:
  void Start(int serverType = 0) {
    env.Settings().WriteProfileInt(QStringLiteral("SERVERTYPE"), serverType);
    core = env.StartCore(controls.Factory());
    ASSERT_TRUE(core);
  }

  QByteArray Stored(const QString& name) { return env.StoredString(name); }

  // Lines added to the activity list since it held `before` lines, top first.
  std::vector<QByteArray> NewLines(size_t before) const {
    std::vector<QByteArray> lines = ActivityLines(*core);
    lines.resize(lines.size() - before);
    return lines;
  }

  CoreEnvironment env;
  FakeTelControls controls;
  std::unique_ptr<CentrixCore> core;
};

TelCall Call(int slot, TelMethodId method, const QByteArray& id = {}, const QByteArray& pwd = {},
             const QByteArray& address = {}) {
  return {slot, method, id, pwd, address};
}

struct StartupCase {
  int serverType;
  std::optional<TelMethodId> signIn;  // on the hosted control, when sent there
  bool asksHostedControl;             // IsLoggedIn/Logout go to the hosted control
  const char* status;
};

TEST_F(SignInTest, StartupSignsInConfiguredSlotsByServerType) {
  const StartupCase cases[] = {
      {0, TelMethodId::Login, true, ""},       {1, TelMethodId::LoginDCS, true, ""},
      {2, std::nullopt, false, "로그인 실패"}, {3, std::nullopt, true, "로그인 실패"},
      {7, std::nullopt, true, "로그인 실패"},  {-1, std::nullopt, true, "로그인 실패"},
  };
  env.ConfigureAccount(1, "kim", "pw1", "10.1.2.3");
  env.ConfigureAccount(3, "lee", "", "10.1.2.4");  // no password: not configured
  env.ConfigureAccount(4, "", "pw4", "10.1.2.5");  // no ID: not configured
  env.ConfigureAccount(60, "last", "pw60", "");    // the address is not tested
  controls.loggedIn = true;
  for (const StartupCase& c : cases) {
    SCOPED_TRACE(c.serverType);
    core.reset();
    controls.ClearCalls();
    Start(c.serverType);

    ASSERT_EQ(core->Accounts().List().GetItemCount(), kTelControlCount);
    const QByteArray status = K(c.status);
    EXPECT_EQ(AccountRow(*core, 0),
              (std::vector<QByteArray>{"1", "kim", "pw1", "", FixedTimeText(), status}));
    EXPECT_EQ(AccountRow(*core, 1), (std::vector<QByteArray>{"2", "", "", "", "", ""}));
    EXPECT_EQ(AccountRow(*core, 2), (std::vector<QByteArray>{"3", "lee", "", "", "", ""}));
    EXPECT_EQ(AccountRow(*core, 3), (std::vector<QByteArray>{"4", "", "pw4", "", "", ""}));
    EXPECT_EQ(AccountRow(*core, 59),
              (std::vector<QByteArray>{"60", "last", "pw60", "", FixedTimeText(), status}));

    TelCallJournal expected;
    if (c.asksHostedControl) {
      expected = {Call(0, TelMethodId::IsLoggedIn), Call(0, TelMethodId::Logout)};
    }
    if (c.signIn) expected.push_back(Call(0, *c.signIn, "kim", "pw1", "10.1.2.3"));
    EXPECT_EQ(controls.CallsOf(0), expected);
    EXPECT_TRUE(controls.CallsOf(1).empty());
    EXPECT_TRUE(controls.CallsOf(2).empty());
    EXPECT_TRUE(controls.CallsOf(3).empty());
    if (c.signIn) {
      EXPECT_EQ(controls.CallsOf(59).back(), Call(59, *c.signIn, "last", "pw60", ""));
    }
  }
}

TEST_F(SignInTest, StartupRequestRefusedByControlShowsFailure) {
  env.ConfigureAccount(2, "kim", "pw", "10.0.0.2");
  controls.loginAnswer = false;
  for (int serverType : {0, 1}) {
    SCOPED_TRACE(serverType);
    core.reset();
    Start(serverType);
    EXPECT_EQ(AccountRow(*core, 1),
              (std::vector<QByteArray>{"2", "kim", "pw", "", FixedTimeText(), K("로그인 실패")}));
  }
}

struct ResultCase {
  QString text;
  const char* status;
  const char* line;  // the line under the raw text, or the only line
  bool failure;
};

TEST_F(SignInTest, LoginResultShowsOutcomeAndRawTextOfFailures) {
  const QString longTail(100000, QLatin1Char('x'));
  const ResultCase cases[] = {
      {QStringLiteral("STATUS:1|MSG:ok 301,|"), "로그인 성공", "[0]park - 로그인성공", false},
      {QStringLiteral("STATUS=2|"), "로그인 성공", "[0]park - 로그인성공", false},
      {QStringLiteral("STATUS:1|") + longTail, "로그인 성공", "[0]park - 로그인성공", false},
      {QStringLiteral("STATUS:-1|"), "로그인 실패", "[0] park - 로그인 실패(NotFound)", true},
      {QStringLiteral("STATUS:-2|MSG:비밀번호 오류,"), "로그인 실패",
       "[0] park - 로그인 실패(PasswdErr)", true},
      {QStringLiteral("STATUS:0|"), "로그인 실패", "[0] park - 로그인 실패(기타)", true},
      {QStringLiteral("STATUS:-3|"), "로그인 실패", "[0] park - 로그인 실패(기타)", true},
      {QStringLiteral("STATUS:|"), "로그인 실패", "[0] park - 로그인 실패(기타)", true},
      {QStringLiteral("MSG:x,|"), "로그인 실패", "[0] park - 로그인 실패(기타)", true},
      {QString(), "로그인 실패", "[0] park - 로그인 실패(기타)", true},
      {QStringLiteral("STATUS|1|"), "로그인 실패", "[0] park - 로그인 실패(기타)", true},
      {QStringLiteral("STATUS:1"), "로그인 실패", "[0] park - 로그인 실패(기타)", true},
      // The key is found inside an earlier, longer one.
      {QStringLiteral("LOGINSTATUS:-1|STATUS:1|"), "로그인 실패",
       "[0] park - 로그인 실패(NotFound)", true},
      {QString::fromUtf16(u"STATUS:\u0000\u0001\uFFFF|", 11), "로그인 실패",
       "[0] park - 로그인 실패(기타)", true},
  };
  env.ConfigureAccount(5, "park", "pw5", "10.0.0.5");
  Start();
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.text.left(40).toStdString());
    const size_t before = ActivityLines(*core).size();
    controls[4].RaiseLoginResult(c.text);

    const std::vector<QByteArray> row = AccountRow(*core, 4);
    EXPECT_EQ(row[1], "park");
    EXPECT_EQ(row[2], "pw5");
    EXPECT_EQ(row[4], FixedTimeText());
    EXPECT_EQ(row[5], K(c.status));
    const std::vector<QByteArray> expected =
        c.failure ? std::vector<QByteArray>{ToCp949(c.text), K(c.line)}
                  : std::vector<QByteArray>{K(c.line)};
    EXPECT_EQ(NewLines(before), expected);
  }
  EXPECT_TRUE(env.LogFileText().indexOf("park") < 0);  // sign-in lines stay out of the call log
}

TEST_F(SignInTest, LoginResultTakesExtensionFromMessageTail) {
  const struct {
    QString text;
    const char* column;
    qint32 extension;
  } cases[] = {
      {QStringLiteral("STATUS:1|MSG:login ok 301,|"), "301", 301},
      {QStringLiteral("STATUS:1|MSG:7,|"), "7", 7},
      {QStringLiteral("STATUS:1|"), "", 0},
      {QStringLiteral("STATUS:1|MSG:302"), "", 0},  // no "," after it
      {QStringLiteral("STATUS:-1|MSG:not found 303,"), "303", 303},
      {QStringLiteral("STATUS:1|MSG:abc,"), "abc", 0},
      {QStringLiteral("STATUS:1|MSG:4305,|"), "305", 305},
  };
  env.ConfigureAccount(1, "kim", "pw", "10.0.0.1");
  Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    controls[0].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:999,"));
    controls[0].RaiseLoginResult(c.text);
    EXPECT_EQ(core->Accounts().List().GetItemText(0, 3), c.column);
    EXPECT_EQ(core->Accounts().Account(0).m_nExtension, c.extension);
  }
}

TEST_F(SignInTest, LoginResultOnUnconfiguredSlotOrForeignIdIsHandledSafely) {
  Start();
  controls[9].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:310,"));
  EXPECT_EQ(AccountRow(*core, 9),
            (std::vector<QByteArray>{"10", "", "", "310", FixedTimeText(), K("로그인 성공")}));

  const std::vector<QByteArray> lines = ActivityLines(*core);
  for (int foreignId : {kFirstTelControlId - 1, kFirstTelControlId + kTelControlCount, -5}) {
    emit controls[0].LoginResult(foreignId, QStringLiteral("STATUS:-1|MSG:311,"));
  }
  EXPECT_EQ(ActivityLines(*core), lines);
  EXPECT_EQ(AccountRow(*core, 0), (std::vector<QByteArray>{"1", "", "", "", "", ""}));
  EXPECT_EQ(AccountRow(*core, 59), (std::vector<QByteArray>{"60", "", "", "", "", ""}));
}

TEST_F(SignInTest, EndSignsOutOnlySignedInControls) {
  env.ConfigureAccount(1, "kim", "pw", "10.0.0.1");
  Start();
  controls[3].loggedIn = true;
  controls[0].loggedIn = false;
  controls.ClearCalls();
  core.reset();

  TelCallJournal expected;
  for (int slot = 0; slot < kTelControlCount; ++slot) {
    expected.push_back(Call(slot, TelMethodId::IsLoggedIn));
    if (slot == 3) expected.push_back(Call(slot, TelMethodId::Logout));
  }
  EXPECT_EQ(controls.Calls(), expected);
  EXPECT_EQ(Stored(QStringLiteral("UID1")), "kim");
}

// The same sign-ins against the simulated telephony server through the network control.
class SimulatedSignInTest : public SignInTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Listen(0));
    factory = NetworkTelControlFactory(server.Port());
  }

  void StartSimulated() {
    core = env.StartCore(factory);
    ASSERT_TRUE(core);
  }

  bool WaitForStatus(int slot, const char* status) {
    return WaitUntil([&] { return core->Accounts().List().GetItemText(slot, 5) == K(status); });
  }

  // The raw text must stand right above its failure line.
  bool RawTextAboveLine(const QString& raw, const QByteArray& line) const {
    const std::vector<QByteArray> lines = ActivityLines(*core);
    const auto at = std::find(lines.begin(), lines.end(), line);
    return at != lines.end() && at != lines.begin() && *(at - 1) == ToCp949(raw);
  }

  TelephonyServer server;
  TelControlFactory factory;
};

TEST_F(SimulatedSignInTest, StartupSignInsGetTheirResults) {
  const struct {
    TelAccount account;
    const char* status;
    const char* line;
    QString raw;  // the text above a failure line
    const char* column3;
  } cases[] = {
      {{"one", "pw", "07012345301", 1, {}}, "로그인 성공", "[0]one - 로그인성공", {}, "301"},
      {{"two", "pw", "302", 2, {}}, "로그인 성공", "[0]two - 로그인성공", {}, "302"},
      {{"nf", "", "", 1, {}},
       "로그인 실패",
       "[0] nf - 로그인 실패(NotFound)",
       LoginNotFoundText("nf"),
       ""},
      {{"pe", "right", "304", 1, {}},
       "로그인 실패",
       "[0] pe - 로그인 실패(PasswdErr)",
       LoginPasswordErrorText("pe"),
       ""},
      {{"zero", "pw", "305", 0, {}},
       "로그인 실패",
       "[0] zero - 로그인 실패(기타)",
       LoginAcceptedText("zero", 0, "305"),
       "305"},
      {{"missing", "pw", "", 1, "RESULT:LOGIN|MSG:no status 306,|"},
       "로그인 실패",
       "[0] missing - 로그인 실패(기타)",
       "RESULT:LOGIN|MSG:no status 306,|",
       "306"},
      {{"empty", "pw", "", 1, "RESULT:LOGIN|STATUS:|MSG:307,|"},
       "로그인 실패",
       "[0] empty - 로그인 실패(기타)",
       "RESULT:LOGIN|STATUS:|MSG:307,|",
       "307"},
  };
  int slotNumber = 0;
  for (const auto& c : cases) {
    if (c.account.id != QLatin1String("nf")) server.AddAccount(c.account);
    const QByteArray password = c.account.id == QLatin1String("pe") ? "wrong" : "pw";
    env.ConfigureAccount(++slotNumber, ToCp949(c.account.id), password, "127.0.0.1");
  }
  StartSimulated();

  for (size_t slot = 0; slot < std::size(cases); ++slot) {
    const auto& c = cases[slot];
    SCOPED_TRACE(c.account.id.toStdString());
    ASSERT_TRUE(WaitForStatus(int(slot), c.status));
    EXPECT_EQ(core->Accounts().List().GetItemText(int(slot), 3), c.column3);
    EXPECT_EQ(core->Accounts().Account(int(slot)).m_nExtension, QByteArray(c.column3).toInt());
    if (c.raw.isNull()) {
      EXPECT_TRUE(HasActivityLine(*core, K(c.line)));
    } else {
      EXPECT_TRUE(RawTextAboveLine(c.raw, K(c.line)));
    }
  }
  EXPECT_TRUE(server.IsSignedIn("one") && server.IsSignedIn("two"));
}

}  // namespace
