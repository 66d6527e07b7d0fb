#include <gtest/gtest.h>
#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <optional>

#include "core/telephony/networktelcontrol.h"
#include "core/text/cp949.h"
#include "support/faketelcontrol.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/testwindow.h"
#include "tools/telsim/servertexts.h"
#include "tools/telsim/telephonyserver.h"
#include "ui/dlgsetport.h"

using namespace handlertest;

namespace {

QByteArray K(const char* utf8) { return ToCp949(QString::fromUtf8(utf8)); }

class SignInTest : public testing::Test {
 protected:
  void Start(int serverType = 0) {
    env.Settings().WriteProfileInt(QStringLiteral("SERVERTYPE"), serverType);
    window = env.StartWindow(controls.Factory());
    ASSERT_TRUE(window);
  }

  QByteArray Stored(const QString& name) { return env.StoredString(name); }

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
  EXPECT_EQ(AccountRow(window->Core(), 4), (std::vector<QByteArray>{"5", "", "", "", "", ""}));
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
  EXPECT_EQ(AccountRow(window->Core(), 4),
            (std::vector<QByteArray>{"5", id, "pw", "", FixedTimeText(), ""}));
}

TEST_F(SignInTest, DialogSignInRefusedShowsErrorAndIsStoredAnyway) {
  controls.loginAnswer = false;
  env.ConfigureAccount(2, "kim", "old", "10.0.0.2");
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
  EXPECT_EQ(AccountRow(window->Core(), 1),
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
    env.ConfigureAccount(2, "kim", "pw", "10.0.0.2");
    Start();
    controls[1].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok 301,"));
    env.runSetPortDialog = RunDialogWith(way.act);
    controls.ClearCalls();
    window->OnDblClkAccounts(1);

    EXPECT_EQ(controls.Calls(), TelCallJournal{Call(1, TelMethodId::Logout)});
    EXPECT_EQ(AccountRow(window->Core(), 1),
              (std::vector<QByteArray>{"2", "", "", "", FixedTimeText(), K("로그아웃")}));
    const AccountSlot& account = window->Core().Accounts().Account(1);
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
    EXPECT_EQ(AccountRow(window->Core(), 0),
              (std::vector<QByteArray>{"1", "", "", "", FixedTimeText(), K("로그인 에러")}));

    env.runSetPortDialog = [](CDlgSetPort&) { return kSetPortSignOut; };
    window->OnDblClkAccounts(0);
    EXPECT_EQ(controls.Calls(), c.signOutReachesHostedControl
                                    ? TelCallJournal{Call(0, TelMethodId::Logout)}
                                    : TelCallJournal{});
    EXPECT_EQ(window->Core().Accounts().List().GetItemText(0, 5), K("로그아웃"));
  }
}

TEST_F(SignInTest, DialogOtherResultsAndClicksOutsideRowsChangeNothing) {
  env.ConfigureAccount(1, "kim", "pw", "10.0.0.1");
  Start();
  const std::vector<QByteArray> row = AccountRow(window->Core(), 0);
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
  EXPECT_EQ(AccountRow(window->Core(), 0), row);
  EXPECT_EQ(Stored(QStringLiteral("UID1")), "kim");
}

// The dialog against the simulated telephony server through the network control.
TEST_F(SignInTest, DialogSignInSurvivesRestartAndSignOutLeavesServer) {
  TelephonyServer server;
  ASSERT_TRUE(server.Listen(0));
  server.AddAccount({"agent", "pw", "07012345309", 1, {}});
  const auto startSimulated = [&] {
    window = env.StartWindow(NetworkTelControlFactory(server.Port()));
    return window != nullptr;
  };
  const auto signedIn = [&] {
    return WaitUntil(
        [&] { return window->Core().Accounts().List().GetItemText(7, 5) == K("로그인 성공"); });
  };
  ASSERT_TRUE(startSimulated());
  env.runSetPortDialog = RunDialogWith([](CDlgSetPort& dialog) {
    dialog.EditId()->setText(QStringLiteral("agent"));
    dialog.EditPassword()->setText(QStringLiteral("pw"));
    EnterAddress(dialog, {"127", "0", "0", "1"});
    Button(dialog, 1)->click();
  });
  window->OnDblClkAccounts(7);
  ASSERT_TRUE(signedIn());
  EXPECT_EQ(
      AccountRow(window->Core(), 7),
      (std::vector<QByteArray>{"8", "agent", "pw", "309", FixedTimeText(), K("로그인 성공")}));

  window.reset();  // the end signs the account out
  ASSERT_TRUE(WaitUntil([&] { return !server.IsSignedIn("agent"); }));
  env.RestartSettings();
  ASSERT_TRUE(startSimulated());
  ASSERT_TRUE(signedIn());
  EXPECT_TRUE(server.IsSignedIn("agent"));

  env.runSetPortDialog = RunDialogWith([](CDlgSetPort& dialog) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &escape);
  });
  window->OnDblClkAccounts(7);
  EXPECT_TRUE(WaitUntil([&] { return !server.IsSignedIn("agent"); }));
  EXPECT_EQ(AccountRow(window->Core(), 7),
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
