// The real binary on a real X server with a window manager and a
// notification area, driven from outside the way an operator would.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <csignal>
#include <functional>
#include <memory>

#include "core/relay/clientprotocol.h"
#include "desktop/desktopsession.h"
#include "support/postgrescluster.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "support/testcore.h"
#include "tools/telsim/telephonyserver.h"

namespace {

const QStringList kAccounts = {QStringLiteral("agent1"), QStringLiteral("agent2")};
const QByteArray kMessageBoxTitle = "Tarvex";  // the executable's name
const QByteArray kAccountDialogTitle = "통신환경 설정";
constexpr int kStaysRunningMs = 10000;

bool IsMenu(const XWindow& window) {
  return !window.managed && !window.types.contains("_KDE_NET_WM_WINDOW_TYPE_OVERRIDE");
}

class DesktopTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    desktop = new DesktopSession;
    ASSERT_TRUE(desktop->Start()) << desktop->LastError();
    cluster = new PostgresCluster;
    ASSERT_TRUE(cluster->Start()) << cluster->LastError();
  }
  static void TearDownTestSuite() {
    delete cluster;
    cluster = nullptr;
    delete desktop;
    desktop = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(desktop, nullptr);
    ASSERT_NE(cluster, nullptr);
    ASSERT_TRUE(telsim.Listen(0)) << telsim.ErrorString();
    for (int n = 0; n < kAccounts.size(); ++n) {
      telsim.AddAccount({kAccounts[n],
                         QStringLiteral("secret%1").arg(n + 1),
                         QStringLiteral("0701234530%1").arg(n + 1),
                         1,
                         {}});
    }
    // Requested sign-outs only: a connection that just goes away is no sign-out.
    QObject::connect(&telsim, &TelephonyServer::SignOutRequested,
                     [this](const QString& id) { signedOut << id; });
    QObject::connect(&telsim, &TelephonyServer::SignInHandled, [this] { ++signIns; });
  }

  void TearDown() override {
    if (relay && relay->IsRunning()) {
      relay->Signal(SIGTERM);
      relay->WaitFinished();
    }
  }

  // The relay with both accounts signed in and its window on the screen.
  void StartRelay() {
    RelayProcess::Options options;
    options.odbc = cluster->ConnectionString();
    options.telPort = telsim.Port();
    options.platform = QStringLiteral("xcb");
    options.display = desktop->Display();
    relay = std::make_unique<RelayProcess>(options);
    WriteSettings(relay->options().configHome);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(relay->Start());
    ASSERT_TRUE(WaitUntil([this] { return telsim.SignedInAccounts().size() == 2; }, 30000))
        << relay->StandardError();
    windows = std::make_unique<ProcessWindows>(*desktop, relay->ProcessId());
    mainWindow = windows->WaitFor([](const XWindow& window) { return window.managed; });
    ASSERT_FALSE(mainWindow.isEmpty()) << relay->StandardError();
    normalSize = windows->Geometry(mainWindow).size();
    ASSERT_FALSE(windows->TrayIcon().isEmpty()) << "no icon in the notification area";
  }

  static void WriteSettings(const QString& configHome) {
    ASSERT_TRUE(QDir().mkpath(configHome + QStringLiteral("/MERVO")));
    QFile file(configHome + QStringLiteral("/MERVO/Tarvex.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray text = "[SETTING]\nSENDTYPE=2\nCENTERID=7\n";
    for (int n = 1; n <= kAccounts.size(); ++n) {
      text += QStringLiteral("UID%1=%2\nPWD%1=secret%1\nSERVERIP%1=127.0.0.1\n")
                  .arg(n)
                  .arg(kAccounts[n - 1])
                  .toUtf8();
    }
    file.write(text);
  }

  void Minimise() {
    windows->Minimise(mainWindow);
    ASSERT_TRUE(WaitUntil([this] { return !windows->IsViewable(mainWindow); }, 20000))
        << "the window did not hide";
  }

  // Whether the window is back in its normal state and size.
  bool ShownNormally() {
    return WaitUntil([this] { return windows->IsViewable(mainWindow); }, 20000) &&
           windows->Geometry(mainWindow).size() == normalSize;
  }

  // Opens the icon's menu with the right button; the menu's window.
  QByteArray OpenIconMenu() {
    const QByteArray icon = windows->TrayIcon();
    windows->Click(icon, 10, 10, 3);
    return windows->WaitFor(IsMenu);
  }

  void ChooseFromIconMenu(const QString& key) {
    const QByteArray menu = OpenIconMenu();
    ASSERT_FALSE(menu.isEmpty()) << "the icon's menu did not open";
    windows->Keys({}, {key});
    ASSERT_TRUE(WaitUntil([&] { return !windows->IsViewable(menu); }, 20000));
  }

  QByteArray WaitForExitQuestion() {
    return windows->WaitFor(
        [](const XWindow& window) { return window.managed && window.title == kMessageBoxTitle; });
  }

  bool WaitForExitQuestionToClose() {
    return WaitUntil(
        [this] {
          for (const XWindow& window : windows->Visible()) {
            if (window.managed && window.title == kMessageBoxTitle) return false;
          }
          return true;
        },
        20000);
  }

  void AnswerExitQuestion(const QString& key) {
    const QByteArray box = WaitForExitQuestion();
    ASSERT_FALSE(box.isEmpty()) << "no exit question";
    windows->Keys(box, {key});
  }

  void ExpectEndedWithSignOut() {
    ASSERT_TRUE(relay->WaitFinished(30000)) << "the relay did not end";
    EXPECT_EQ(relay->ExitStatus(), QProcess::NormalExit);
    EXPECT_EQ(relay->ExitCode(), 0);
    EXPECT_TRUE(WaitUntil([this] { return signedOut.size() == kAccounts.size(); }))
        << signedOut.join(',').toStdString();
    EXPECT_TRUE(telsim.SignedInAccounts().isEmpty());
  }

  static DesktopSession* desktop;
  static PostgresCluster* cluster;
  TelephonyServer telsim;
  QStringList signedOut;
  int signIns = 0;
  std::unique_ptr<RelayProcess> relay;
  std::unique_ptr<ProcessWindows> windows;
  QByteArray mainWindow;
  QSize normalSize;
};

DesktopSession* DesktopTest::desktop = nullptr;
PostgresCluster* DesktopTest::cluster = nullptr;

TEST_F(DesktopTest, MinimisedRelayRunsOnAndEndsOnlyFromTheIconMenu) {
  StartRelay();
  if (HasFatalFailure()) return;
  TestClient client(relay->options().extPort);
  ASSERT_TRUE(client.Send("301") && client.WaitForBytes(RegisterAck().size()));
  telsim.SendRing(kAccounts[0], QStringLiteral("0212345678"), QStringLiteral("07077771234"), false);
  ASSERT_TRUE(client.WaitForBytes(RegisterAck().size() + 1)) << "no notice of the call";
  WaitUntil([] { return false; }, 500);  // the next paint, for the picture
  windows->Screenshot(mainWindow, QStringLiteral("window.png"));

  Minimise();
  if (HasFatalFailure()) return;
  EXPECT_FALSE(relay->WaitFinished(kStaysRunningMs)) << "minimising ended the relay";
  EXPECT_EQ(telsim.SignedInAccounts().size(), 2);
  EXPECT_TRUE(PortAcceptsConnections(relay->options().ldkPort));
  EXPECT_TRUE(signedOut.isEmpty());

  windows->Click(windows->TrayIcon(), 10, 10, 1, 2);
  EXPECT_TRUE(ShownNormally()) << "a double click on the icon did not bring the window back";

  Minimise();
  if (HasFatalFailure()) return;
  const QByteArray menu = OpenIconMenu();
  ASSERT_FALSE(menu.isEmpty()) << "the icon's menu did not open";
  windows->Screenshot(menu, QStringLiteral("tray-menu.png"));
  windows->Keys({}, {QStringLiteral("x")});
  AnswerExitQuestion(QStringLiteral("y"));
  if (HasFatalFailure()) return;
  ExpectEndedWithSignOut();
  EXPECT_FALSE(windows->IsViewable(mainWindow));
}

// Every way out asks; No leaves the window as it was and the relay running,
// Yes ends the run with the accounts signed out.
TEST_F(DesktopTest, ExitQuestionGuardsEveryWayOut) {
  struct WayOut {
    const char* name;
    bool hidden;
    std::function<void()> leave;
  };
  const auto pressOnWindow = [this](const char* key) {
    return [this, key] { windows->Keys(mainWindow, {QString::fromLatin1(key)}); };
  };
  const auto menuExit = [this] { ChooseFromIconMenu(QStringLiteral("x")); };
  const WayOut ways[] = {
      {"Enter", false, pressOnWindow("Return")},     {"Escape", false, pressOnWindow("Escape")},
      {"close box", false, pressOnWindow("alt+F4")}, {"icon menu, window shown", false, menuExit},
      {"icon menu, window hidden", true, menuExit},
  };
  for (const WayOut& way : ways) {
    SCOPED_TRACE(way.name);
    signedOut.clear();
    StartRelay();
    if (HasFatalFailure()) return;
    if (way.hidden) Minimise();
    if (HasFatalFailure()) return;

    way.leave();
    AnswerExitQuestion(QStringLiteral("n"));
    if (HasFatalFailure()) return;
    EXPECT_TRUE(WaitForExitQuestionToClose());
    EXPECT_FALSE(relay->WaitFinished(1000)) << "No ended the relay";
    EXPECT_EQ(windows->IsViewable(mainWindow), !way.hidden);
    EXPECT_EQ(telsim.SignedInAccounts().size(), 2);

    way.leave();
    AnswerExitQuestion(QStringLiteral("y"));
    if (HasFatalFailure()) return;
    ExpectEndedWithSignOut();
  }
}

TEST_F(DesktopTest, IconMenuOpensTheWindowAndLeavesThePortCommandIdle) {
  StartRelay();
  if (HasFatalFailure()) return;
  Minimise();
  if (HasFatalFailure()) return;
  ChooseFromIconMenu(QStringLiteral("s"));
  if (HasFatalFailure()) return;
  EXPECT_FALSE(windows->IsViewable(mainWindow));
  ChooseFromIconMenu(QStringLiteral("o"));
  EXPECT_TRUE(ShownNormally());
  ChooseFromIconMenu(QStringLiteral("o"));  // already shown: nothing changes
  EXPECT_TRUE(ShownNormally());
  ChooseFromIconMenu(QStringLiteral("s"));
  EXPECT_TRUE(windows->IsViewable(mainWindow));
  const auto others = [this](const XWindow& window) {
    return window.managed && window.id != mainWindow;
  };
  EXPECT_TRUE(windows->WaitFor(others, 1000).isEmpty()) << "a command opened a window";
  EXPECT_TRUE(relay->IsRunning());

  relay->Signal(SIGTERM);
  ExpectEndedWithSignOut();
}

TEST_F(DesktopTest, AccountRowOpensTheAccountDialog) {
  StartRelay();
  if (HasFatalFailure()) return;
  // The first row of the account list: below its header, a third of the way down.
  const QRect frame = windows->Geometry(mainWindow);
  windows->Click(mainWindow, frame.width() / 5, frame.height() * 133 / 349 + 26, 1, 2);
  const QByteArray dialog = windows->WaitFor(
      [](const XWindow& window) { return window.managed && window.title == kAccountDialogTitle; });
  ASSERT_FALSE(dialog.isEmpty()) << "no account dialog";
  WaitUntil([] { return false; }, 500);  // the next paint, for the picture
  windows->Screenshot(dialog, QStringLiteral("account-dialog.png"));
  windows->Keys(dialog, {QStringLiteral("Return")});  // sign in again
  EXPECT_TRUE(WaitUntil([&] { return !windows->IsViewable(dialog); }, 20000));
  EXPECT_TRUE(
      WaitUntil([this] { return signIns == 3 && telsim.SignedInAccounts().size() == 2; }, 20000));

  // Its answer may still be on the way to the relay, so the account's
  // sign-out at the end is not certain here; the other cases check it.
  relay->Signal(SIGTERM);
  ASSERT_TRUE(relay->WaitFinished(30000));
  EXPECT_EQ(relay->ExitCode(), 0);
}

}  // namespace
