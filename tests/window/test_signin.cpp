#include <gtest/gtest.h>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <optional>

#include "support/faketelcontrol.h"
#include "support/handlerwindow.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "telephony/cp949.h"
#include "telephony/dlgsetport.h"
#include "telephony/networktelcontrol.h"
#include "tools/telsim/servertexts.h"
#include "tools/telsim/telephonyserver.h"

using namespace handlertest;

namespace {

QByteArray K(const char* utf8) { return ToCp949(QString::fromUtf8(utf8)); }

class SignInTest : public testing::Test {
 protected:
  void Configure(int slotNumber, const QByteArray& uid, const QByteArray& pwd,
                 const QByteArray& serverIp) {
    SettingsStore& settings = env.Settings();
    settings.WriteProfileString(QStringLiteral("UID%1").arg(slotNumber), uid);
    settings.WriteProfileString(QStringLiteral("PWD%1").arg(slotNumber), pwd);
    settings.WriteProfileString(QStringLiteral("SERVERIP%1").arg(slotNumber), serverIp);
  }

  void Start(int serverType = 0) {
    env.Settings().WriteProfileInt(QStringLiteral("SERVERTYPE"), serverType);
    window = env.StartWindow(controls.Factory());
    ASSERT_TRUE(window);
  }

  QByteArray Stored(const QString& name) { return env.StoredString(name); }

  // Lines added to the activity list since it held `before` lines, top first.
  std::vector<QByteArray> NewLines(size_t before) const {
    std::vector<QByteArray> lines = ActivityLines(*window);
    lines.resize(lines.size() - before);
    return lines;
  }

  WindowEnvironment env;
  FakeTelControls controls;
  std::unique_ptr<CTarvexCentrixDlg> window;
};

TelCall Call(int slot, TelMethodId method, const QByteArray& id = {}, const QByteArray& pwd = {},
             const QByteArray& address = {}) {
  return {slot, method, id, pwd, address};
}

// Runs the real dialog loop and acts on the dialog once it is open.
std::function<int(CDlgSetPort&)> RunDialogWith(std::function<void(CDlgSetPort&)> act) {
  return [act](CDlgSetPort& dialog) {
    QTimer::singleShot(0, &dialog, [&dialog, act] { act(dialog); });
    return dialog.DoModal();
  };
}

QPushButton* Button(CDlgSetPort& dialog, int id) {
  return dialog.findChild<QPushButton*>(QStringLiteral("ctl%1").arg(id));
}

void EnterAddress(CDlgSetPort& dialog, const std::array<const char*, 4>& fields) {
  for (int i = 0; i < 4; ++i) dialog.m_ctlIP->Field(i)->setText(QString::fromLatin1(fields[i]));
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
  Configure(1, "kim", "pw1", "10.1.2.3");
  Configure(3, "lee", "", "10.1.2.4");  // no password: not configured
  Configure(4, "", "pw4", "10.1.2.5");  // no ID: not configured
  Configure(60, "last", "pw60", "");    // the address is not tested
  controls.loggedIn = true;
  for (const StartupCase& c : cases) {
    SCOPED_TRACE(c.serverType);
    window.reset();
    controls.ClearCalls();
    Start(c.serverType);

    ASSERT_EQ(window->m_listAccounts.GetItemCount(), kTelControlCount);
    const QByteArray status = K(c.status);
    EXPECT_EQ(AccountRow(*window, 0),
              (std::vector<QByteArray>{"1", "kim", "pw1", "", FixedTimeText(), status}));
    EXPECT_EQ(AccountRow(*window, 1), (std::vector<QByteArray>{"2", "", "", "", "", ""}));
    EXPECT_EQ(AccountRow(*window, 2), (std::vector<QByteArray>{"3", "lee", "", "", "", ""}));
    EXPECT_EQ(AccountRow(*window, 3), (std::vector<QByteArray>{"4", "", "pw4", "", "", ""}));
    EXPECT_EQ(AccountRow(*window, 59),
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
  Configure(2, "kim", "pw", "10.0.0.2");
  controls.loginAnswer = false;
  for (int serverType : {0, 1}) {
    SCOPED_TRACE(serverType);
    window.reset();
    Start(serverType);
    EXPECT_EQ(AccountRow(*window, 1),
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
  Configure(5, "park", "pw5", "10.0.0.5");
  Start();
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.text.left(40).toStdString());
    const size_t before = ActivityLines(*window).size();
    controls[4].RaiseLoginResult(c.text);

    const std::vector<QByteArray> row = AccountRow(*window, 4);
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
  Configure(1, "kim", "pw", "10.0.0.1");
  Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    controls[0].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:999,"));
    controls[0].RaiseLoginResult(c.text);
    EXPECT_EQ(window->m_listAccounts.GetItemText(0, 3), c.column);
    EXPECT_EQ(window->m_accounts[0].m_nExtension, c.extension);
  }
}

TEST_F(SignInTest, LoginResultOnUnconfiguredSlotOrForeignIdIsHandledSafely) {
  Start();
  controls[9].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:310,"));
  EXPECT_EQ(AccountRow(*window, 9),
            (std::vector<QByteArray>{"10", "", "", "310", FixedTimeText(), K("로그인 성공")}));

  const std::vector<QByteArray> lines = ActivityLines(*window);
  for (int foreignId : {kFirstTelControlId - 1, kFirstTelControlId + kTelControlCount, -5}) {
    emit controls[0].LoginResult(foreignId, QStringLiteral("STATUS:-1|MSG:311,"));
  }
  EXPECT_EQ(ActivityLines(*window), lines);
  EXPECT_EQ(AccountRow(*window, 0), (std::vector<QByteArray>{"1", "", "", "", "", ""}));
  EXPECT_EQ(AccountRow(*window, 59), (std::vector<QByteArray>{"60", "", "", "", "", ""}));
}

TEST_F(SignInTest, DialogSignInIsStoredAndSentAndComesBackAfterRestart) {
  Start();
  int opened = 0;
  env.runSetPortDialog = RunDialogWith([&](CDlgSetPort& dialog) {
    ++opened;
    EXPECT_EQ(dialog.m_nSlot, 5);
    EXPECT_EQ(dialog.m_ctlIP->GetAddress(), (AddressFields{0, 0, 0, 0}));
    dialog.EditId()->setText(QStringLiteral("최영"));
    dialog.EditPassword()->setText(QStringLiteral("pw"));
    EnterAddress(dialog, {"192", "168", "", "7"});
    Button(dialog, 1)->click();
  });
  controls.ClearCalls();
  window->OnDblClkAccounts(4);

  ASSERT_EQ(opened, 1);
  const QByteArray id = K("최영");
  EXPECT_EQ(controls.Calls(), TelCallJournal{Call(4, TelMethodId::Login, id, "pw", "192.168.0.7")});
  // The row waits for the login result.
  EXPECT_EQ(AccountRow(*window, 4), (std::vector<QByteArray>{"5", "", "", "", "", ""}));
  EXPECT_EQ(Stored(QStringLiteral("UID5")), id);
  EXPECT_EQ(Stored(QStringLiteral("PWD5")), "pw");
  EXPECT_EQ(Stored(QStringLiteral("ServerIP5")), "192.168.0.7");

  window.reset();
  env.RestartSettings();
  controls.ClearCalls();
  Start();
  EXPECT_EQ(controls.CallsOf(4),
            (TelCallJournal{Call(4, TelMethodId::IsLoggedIn),
                            Call(4, TelMethodId::Login, id, "pw", "192.168.0.7")}));
  EXPECT_EQ(AccountRow(*window, 4),
            (std::vector<QByteArray>{"5", id, "pw", "", FixedTimeText(), ""}));
}

TEST_F(SignInTest, DialogSignInRefusedShowsErrorAndIsStoredAnyway) {
  controls.loginAnswer = false;
  Configure(2, "kim", "old", "10.0.0.2");
  Start();
  env.runSetPortDialog = RunDialogWith([](CDlgSetPort& dialog) {
    EXPECT_EQ(dialog.EditId()->text(), QStringLiteral("kim"));
    EXPECT_EQ(dialog.EditPassword()->text(), QStringLiteral("old"));
    EXPECT_EQ(dialog.m_ctlIP->GetAddress(), (AddressFields{10, 0, 0, 2}));
    dialog.EditPassword()->setText(QStringLiteral("new"));
    EnterAddress(dialog, {"", "1", "2", "3"});  // blank first field: no address
    Button(dialog, 1)->click();
  });
  controls.ClearCalls();
  window->OnDblClkAccounts(1);

  EXPECT_EQ(controls.Calls(), TelCallJournal{Call(1, TelMethodId::Login, "kim", "new", "")});
  EXPECT_EQ(AccountRow(*window, 1),
            (std::vector<QByteArray>{"2", "kim", "old", "", FixedTimeText(), K("로그인 에러")}));
  EXPECT_EQ(Stored(QStringLiteral("PWD2")), "new");
  EXPECT_EQ(Stored(QStringLiteral("SERVERIP2")), "");
}

TEST_F(SignInTest, DialogSignOutEmptiesSlotInStoreAndSignsControlOut) {
  const struct {
    const char* name;
    std::function<void(CDlgSetPort&)> act;
  } ways[] = {
      {"button", [](CDlgSetPort& dialog) { Button(dialog, 2)->click(); }},
      {"escape",
       [](CDlgSetPort& dialog) {
         QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
         QApplication::sendEvent(&dialog, &escape);
       }},
      {"close box", [](CDlgSetPort& dialog) { dialog.close(); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    window.reset();
    Configure(2, "kim", "pw", "10.0.0.2");
    Start();
    controls[1].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok 301,"));
    env.runSetPortDialog = RunDialogWith(way.act);
    controls.ClearCalls();
    window->OnDblClkAccounts(1);

    EXPECT_EQ(controls.Calls(), TelCallJournal{Call(1, TelMethodId::Logout)});
    EXPECT_EQ(AccountRow(*window, 1),
              (std::vector<QByteArray>{"2", "", "", "", FixedTimeText(), K("로그아웃")}));
    const AccountSlot& account = window->m_accounts[1];
    EXPECT_TRUE(account.m_strUID.isEmpty() && account.m_strPWD.isEmpty() &&
                account.m_strServerIP.isEmpty());
    EXPECT_EQ(account.m_nExtension, 0);
    EXPECT_EQ(Stored(QStringLiteral("UID2")), "");
    EXPECT_EQ(Stored(QStringLiteral("PWD2")), "");
    EXPECT_EQ(Stored(QStringLiteral("SERVERIP2")), "");
  }
}

TEST_F(SignInTest, DialogWithoutHostedServerTypeRefusesSignIn) {
  const struct {
    int serverType;
    bool signOutReachesHostedControl;
  } cases[] = {{2, false}, {3, true}, {9, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serverType);
    window.reset();
    Start(c.serverType);
    env.runSetPortDialog = [](CDlgSetPort& dialog) {
      dialog.m_strID = "kim";
      dialog.m_strPWD = "pw";
      return kSetPortSignIn;
    };
    controls.ClearCalls();
    window->OnDblClkAccounts(0);
    EXPECT_TRUE(controls.Calls().empty());
    EXPECT_EQ(AccountRow(*window, 0),
              (std::vector<QByteArray>{"1", "", "", "", FixedTimeText(), K("로그인 에러")}));

    env.runSetPortDialog = [](CDlgSetPort&) { return kSetPortSignOut; };
    window->OnDblClkAccounts(0);
    EXPECT_EQ(controls.Calls(), c.signOutReachesHostedControl
                                    ? TelCallJournal{Call(0, TelMethodId::Logout)}
                                    : TelCallJournal{});
    EXPECT_EQ(window->m_listAccounts.GetItemText(0, 5), K("로그아웃"));
  }
}

TEST_F(SignInTest, DialogOtherResultsAndClicksOutsideRowsChangeNothing) {
  Configure(1, "kim", "pw", "10.0.0.1");
  Start();
  const std::vector<QByteArray> row = AccountRow(*window, 0);
  controls.ClearCalls();
  window->OnDblClkAccounts(-1);  // no dialog: the environment fails the test if one opens
  window->OnDblClkAccounts(kTelControlCount);
  for (int result : {0, 3, -1}) {
    env.runSetPortDialog = [result](CDlgSetPort& dialog) {
      dialog.m_strID = "other";
      return result;
    };
    window->OnDblClkAccounts(0);
  }
  EXPECT_TRUE(controls.Calls().empty());
  EXPECT_EQ(AccountRow(*window, 0), row);
  EXPECT_EQ(Stored(QStringLiteral("UID1")), "kim");
}

TEST_F(SignInTest, WindowEndSignsOutOnlySignedInControls) {
  Configure(1, "kim", "pw", "10.0.0.1");
  Start();
  controls[3].loggedIn = true;
  controls[0].loggedIn = false;
  controls.ClearCalls();
  window.reset();

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
    const quint16 port = server.Port();
    factory = [port](int controlId) {
      return std::make_unique<NetworkTelControl>(controlId, port);
    };
  }

  void StartSimulated() {
    window = env.StartWindow(factory);
    ASSERT_TRUE(window);
  }

  bool WaitForStatus(int slot, const char* status) {
    return WaitUntil([&] { return window->m_listAccounts.GetItemText(slot, 5) == K(status); });
  }

  // The raw text must stand right above its failure line.
  bool RawTextAboveLine(const QString& raw, const QByteArray& line) const {
    const std::vector<QByteArray> lines = ActivityLines(*window);
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
    Configure(++slotNumber, ToCp949(c.account.id), password, "127.0.0.1");
  }
  StartSimulated();

  for (size_t slot = 0; slot < std::size(cases); ++slot) {
    const auto& c = cases[slot];
    SCOPED_TRACE(c.account.id.toStdString());
    ASSERT_TRUE(WaitForStatus(int(slot), c.status));
    EXPECT_EQ(window->m_listAccounts.GetItemText(int(slot), 3), c.column3);
    EXPECT_EQ(window->m_accounts[slot].m_nExtension, QByteArray(c.column3).toInt());
    if (c.raw.isNull()) {
      EXPECT_TRUE(HasActivityLine(*window, K(c.line)));
    } else {
      EXPECT_TRUE(RawTextAboveLine(c.raw, K(c.line)));
    }
  }
  EXPECT_TRUE(server.IsSignedIn("one") && server.IsSignedIn("two"));
}

TEST_F(SimulatedSignInTest, DialogSignInSurvivesRestartAndSignOutLeavesServer) {
  server.AddAccount({"agent", "pw", "07012345309", 1, {}});
  StartSimulated();
  env.runSetPortDialog = RunDialogWith([](CDlgSetPort& dialog) {
    dialog.EditId()->setText(QStringLiteral("agent"));
    dialog.EditPassword()->setText(QStringLiteral("pw"));
    EnterAddress(dialog, {"127", "0", "0", "1"});
    Button(dialog, 1)->click();
  });
  window->OnDblClkAccounts(7);
  ASSERT_TRUE(WaitForStatus(7, "로그인 성공"));
  EXPECT_EQ(AccountRow(*window, 7), (std::vector<QByteArray>{"8", "agent", "pw", "309",
                                                             FixedTimeText(), K("로그인 성공")}));

  window.reset();  // the end signs the account out
  ASSERT_TRUE(WaitUntil([&] { return !server.IsSignedIn("agent"); }));
  env.RestartSettings();
  StartSimulated();
  ASSERT_TRUE(WaitForStatus(7, "로그인 성공"));
  EXPECT_TRUE(server.IsSignedIn("agent"));

  env.runSetPortDialog = RunDialogWith([](CDlgSetPort& dialog) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &escape);
  });
  window->OnDblClkAccounts(7);
  EXPECT_TRUE(WaitUntil([&] { return !server.IsSignedIn("agent"); }));
  EXPECT_EQ(AccountRow(*window, 7),
            (std::vector<QByteArray>{"8", "", "", "", FixedTimeText(), K("로그아웃")}));
  EXPECT_EQ(Stored(QStringLiteral("UID8")), "");
}

TEST(SetPortDialogTest, ShowsStoredAddressAsFourFields) {
  const struct {
    const char* stored;
    AddressFields shown;
  } cases[] = {
      {"10.1.2.3", {10, 1, 2, 3}}, {"10.1.2", {10, 1, 0, 0}}, {"10.1", {10, 0, 0, 0}},
      {"abc", {0, 0, 0, 0}},       {".1.2.3", {0, 0, 0, 0}},  {"10.1.2.300", {10, 1, 2, 44}},
      {"", {0, 0, 0, 0}},          {"10", {0, 0, 0, 0}},      {"\x01\xff.2.3.4", {0, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    CDlgSetPort dialog;
    dialog.m_strID = K("홍길동");
    dialog.m_strIP = c.stored;
    dialog.OnInitDialog();
    EXPECT_EQ(dialog.m_ctlIP->GetAddress(), c.shown);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(dialog.m_ctlIP->Field(i)->text().toInt(), c.shown[size_t(i)]);
    EXPECT_EQ(dialog.EditId()->text(), QStringLiteral("홍길동"));
  }
}

TEST(SetPortDialogTest, SignInReadsFieldsAndFormatsAddress) {
  const struct {
    std::array<const char*, 4> fields;
    const char* stored;
  } cases[] = {
      {{"192", "168", "0", "7"}, "192.168.0.7"},
      {{"10", "", "", ""}, "10.0.0.0"},
      {{"", "1", "2", "3"}, ""},
      {{"0", "1", "2", "3"}, ""},
      {{"255", "255", "255", "255"}, "255.255.255.255"},
      {{"999", "x", "-1", "4x"}, "255.0.0.0"},  // not typable, yet read safely
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    CDlgSetPort dialog;
    dialog.m_strIP = "10.9.9.9";
    dialog.OnInitDialog();
    dialog.EditId()->setText(QStringLiteral("아이디"));
    dialog.EditPassword()->setText(QStringLiteral("p w"));
    EnterAddress(dialog, c.fields);
    dialog.OnOK();
    EXPECT_EQ(dialog.result(), kSetPortSignIn);
    EXPECT_EQ(dialog.m_strIP, c.stored);
    EXPECT_EQ(dialog.m_strID, K("아이디"));
    EXPECT_EQ(dialog.m_strPWD, "p w");
  }
}

}  // namespace
