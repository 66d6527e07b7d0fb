// The relay's own pages in a real browser: Chromium without a window,
// driven over the DevTools protocol, against the real relay ringing calls
// from the simulated telephony server.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "e2e/webfeedtest.h"
#include "support/devtoolsbrowser.h"
#include "support/qtprint.h"

namespace {

DevToolsBrowser* browser = nullptr;
QString browserProblem;

// One browser for the whole suite: it takes seconds to start.
class ChromiumEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    if (!QFile::exists(QString::fromLatin1(DevToolsBrowser::kProgram))) {
      browserProblem = QStringLiteral("no /usr/bin/chromium (Debian package chromium)");
      return;
    }
    browser = new DevToolsBrowser;
    if (!browser->Start(&browserProblem)) {
      delete browser;
      browser = nullptr;
    }
  }
  void TearDown() override { delete browser; }
};
const testing::Environment* const chromium =
    testing::AddGlobalTestEnvironment(new ChromiumEnvironment);

// Notifications the page raises, counted by the test's own wrapper.
const QString kNotificationWatch = QStringLiteral(R"(
  window.shown = [];
  const RealNotification = window.Notification;
  window.Notification = class extends RealNotification {
    constructor(title, options) {
      window.shown.push(title);
      super(title, options);
    }
  };)");

class PagesTest : public WebFeedTest {
 protected:
  PagesTest() { extraSettings += "FEEDLINK=https://crm.example/search?phone={caller}\n"; }
  void SetUp() override {
    if (!browser) GTEST_SKIP() << browserProblem.toStdString();
    WebFeedTest::SetUp();
  }
  void TearDown() override {
    for (const QString& page : pages) browser->ClosePage(page);
    WebFeedTest::TearDown();
  }
  QString Origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(FeedPort()); }
  // A page of the relay, signed in through its address.
  QString Open(const QString& path, const QString& token, int width = 1000, int height = 700) {
    pages << browser->OpenPage(Origin() + path + "#token=" + token, width, height, width < 500,
                               kNotificationWatch);
    return pages.last();
  }
  QString Text(const QString& page, const QString& selector) {
    return browser->Evaluate(page, "document.querySelector('" + selector + "').textContent")
        .toString();
  }
  void SaveScreenshot(const QString& page, const QString& name) {
    const QString directory = qEnvironmentVariable("TARVEX_SCREENSHOT_DIR");
    if (!directory.isEmpty()) {
      EXPECT_TRUE(browser->Screenshot(page, QDir(directory).filePath(name)));
    }
  }
  QStringList pages;
};

TEST_F(PagesTest, AgentPageShowsItsOwnCallsAsTextAndNotifies) {
  ASSERT_TRUE(browser->GrantNotifications(Origin())) << browser->LastError().toStdString();
  // A token the relay does not know: told why, back to the sign-in, no retrying.
  const QString refused = Open("/", "not-a-token");
  EXPECT_TRUE(browser->WaitFor(refused,
                               "document.getElementById('state').textContent"
                               ".includes('(4003)') && !document.getElementById('signin')"
                               ".hidden && sessionStorage.length === 0"));

  const QString page = Open("/", NewToken("a301", {"--extensions", "301"}));
  ASSERT_TRUE(browser->WaitFor(page, "document.body.dataset.state === 'signed-in'"))
      << browser->LastError().toStdString();
  EXPECT_EQ(browser->Evaluate(page, "location.hash").toString(), "");

  fixture->Ring(1);  // extension 301
  ASSERT_TRUE(browser->WaitFor(
      page, "document.getElementById('ring-caller').textContent === '" + CallerOf(1) + "'"));
  EXPECT_TRUE(browser->WaitFor(page, "window.shown.length === 1"));
  EXPECT_EQ(Text(page, "#ring-extension"), "301");
  EXPECT_EQ(Text(page, "#ring-inbound"), kInbound);
  EXPECT_EQ(browser->Evaluate(page, "document.getElementById('ring-link').href").toString(),
            "https://crm.example/search?phone=" + CallerOf(1));

  // Another extension's call shows nothing: the next own call comes after it.
  fixture->telsim.SendRing(AccountOf(2).id, CallerOf(2), kInbound, false);
  ASSERT_TRUE(fixture->relay->WaitForOutput(CallerOf(2)));
  const QString hostile =
      QStringLiteral("<img src=x onerror=window.ran=1><script>window.ran=2</script>");
  fixture->telsim.SendRing(AccountOf(1).id, hostile, kInbound, false);
  ASSERT_TRUE(browser->WaitFor(page, "window.shown.length === 2"));
  EXPECT_EQ(Text(page, "#ring-caller"), hostile);
  EXPECT_EQ(browser->Evaluate(page,
                              "window.ran === undefined && "
                              "document.querySelectorAll('img, main script').length === 0"),
            QJsonValue(true));
  EXPECT_FALSE(Text(page, "#calls").contains(CallerOf(2)));
  EXPECT_TRUE(Text(page, "#calls").contains(CallerOf(1)));
  EXPECT_TRUE(browser->Evaluate(page, "document.getElementById('ring-link').href")
                  .toString()
                  .endsWith(QUrl::toPercentEncoding(hostile)));

  fixture->Ring(3);
  ASSERT_TRUE(browser->WaitFor(
      page, "document.getElementById('ring-caller').textContent === '" + CallerOf(3) + "'"));
  SaveScreenshot(page, QStringLiteral("agent-page.png"));
  const QString phone = Open("/", NewToken("phone", {"--extensions", "301"}), 390, 760);
  ASSERT_TRUE(browser->WaitFor(phone, "document.body.dataset.state === 'signed-in'"));
  SaveScreenshot(phone, QStringLiteral("agent-phone.png"));
}

TEST_F(PagesTest, AdminPageFollowsAccountsAndCalls) {
  const QString page = Open("/admin", NewToken("boss", {"--admin"}));
  const QString signedIn = "document.querySelector('#accounts tr[data-id=\"" + AccountOf(1).id +
                           "\"]')?.dataset.signedIn";
  ASSERT_TRUE(browser->WaitFor(page, signedIn + " === 'true'", kNoticeWaitMs))
      << browser->LastError().toStdString();
  fixture->Ring(1);
  ASSERT_TRUE(browser->WaitFor(
      page, "document.getElementById('calls').textContent.includes('" + CallerOf(1) + "')"));
  EXPECT_TRUE(browser->WaitFor(page, "document.getElementById('clients-ldk').textContent === '1'"));
  SaveScreenshot(page, QStringLiteral("admin-page.png"));

  fixture->telsim.SetOutage(QStringLiteral("점검 중"));
  EXPECT_TRUE(browser->WaitFor(page, signedIn + " === 'false'", kNoticeWaitMs));
  fixture->telsim.SetOutage({});
}

// An agent's token opens no administrator's page.
TEST_F(PagesTest, AdminPageRefusesAnAgentsToken) {
  const QString page = Open("/admin", NewToken("a301", {"--extensions", "301"}));
  EXPECT_TRUE(browser->WaitFor(page,
                               "document.getElementById('state').textContent === "
                               "'관리자 토큰이 아닙니다' && sessionStorage.length === 0 && "
                               "document.querySelectorAll('#accounts tbody tr').length === 0"));
}

}  // namespace
