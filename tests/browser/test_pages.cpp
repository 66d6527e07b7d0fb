// The relay's pages in Debian's Chromium without a window, against the real
// relay ringing calls from the simulated telephony server.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>

#include "e2e/webfeedtest.h"
#include "support/devtoolsbrowser.h"
#include "support/qtprint.h"

namespace {

DevToolsBrowser* browser = nullptr;
QString browserProblem = QStringLiteral("no /usr/bin/chromium (Debian package chromium)");

// One browser for the suite: it takes seconds to start.
class ChromiumEnvironment : public testing::Environment {
  void SetUp() override {
    if (!QFile::exists(QString::fromLatin1(DevToolsBrowser::kProgram))) return;
    browser = new DevToolsBrowser;
    if (!browser->Start(&browserProblem)) delete std::exchange(browser, nullptr);
  }
  void TearDown() override { delete browser; }
};
const auto* const chromium = testing::AddGlobalTestEnvironment(new ChromiumEnvironment);

// The test's own count of the notifications a page raises.
const QString kNotificationWatch = QStringLiteral(R"(window.shown = [];
  window.Notification = class extends window.Notification {
    constructor(title, options) { window.shown.push(title); super(title, options); }
  };)");

class PagesTest : public WebFeedTest {
 protected:
  PagesTest() {
    extraSettings += "FEEDLINK=https://crm.example/search?phone={caller}\n";
    extraSettings += "WEBHOOK_CRM=http://127.0.0.1:1/hook\n";  // nobody listens: it fails
    qputenv("TARVEX_WEBHOOK_SECRET_CRM", "secret");
  }
  void SetUp() override {
    if (!browser) GTEST_SKIP() << browserProblem;
    WebFeedTest::SetUp();
  }
  void TearDown() override {
    for (const QString& page : pages) browser->Call("Page.close", {}, page);
    WebFeedTest::TearDown();
  }
  QString Origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(FeedPort()); }
  QString Open(const QString& path, const QString& token, int width = 1000, int height = 700) {
    pages << browser->OpenPage(Origin() + path + "#token=" + token, width, height,
                               kNotificationWatch);
    return pages.last();
  }
  bool Until(const QString& page, const QString& expression, int timeoutMs = 20000) {
    return WaitUntil([&] { return browser->Evaluate(page, expression) == true; }, timeoutMs);
  }
  QString Text(const QString& page, const QString& id) {
    return browser->Evaluate(page, "document.getElementById('" + id + "').textContent").toString();
  }
  void SaveScreenshot(const QString& page, const QString& name) {
    const QString directory = qEnvironmentVariable("TARVEX_SCREENSHOT_DIR");
    QFile file(QDir(directory).filePath(name));
    if (directory.isEmpty() || !file.open(QIODevice::WriteOnly)) return;
    file.write(QByteArray::fromBase64(
        browser->Call("Page.captureScreenshot", {}, page)["data"].toString().toLatin1()));
  }
  QStringList pages;
};

TEST_F(PagesTest, AgentPageShowsItsOwnCallsAsTextAndNotifies) {
  browser->Call("Browser.grantPermissions",
                {{"permissions", QJsonArray{"notifications"}}, {"origin", Origin()}});
  // Refused: told why, back to the sign-in, the token forgotten.
  const QString refused = Open("/", "not-a-token");
  EXPECT_TRUE(Until(refused,
                    "state.textContent.includes('(4003)') && !signin.hidden && "
                    "sessionStorage.length === 0"));

  const QString page = Open("/", NewToken("a301", {"--extensions", "301"}));
  ASSERT_TRUE(Until(page, "document.body.dataset.state === 'signed-in' && location.hash === ''"))
      << browser->LastError();
  fixture->Ring(1);  // extension 301
  ASSERT_TRUE(Until(page, "window.shown.length === 1"));
  EXPECT_EQ(Text(page, "ring-caller"), CallerOf(1));
  EXPECT_EQ(Text(page, "ring-extension") + Text(page, "ring-inbound"), "301" + kInbound);

  // Another extension's call shows nothing; a caller's markup stays text.
  fixture->telsim.SendRing(AccountOf(2).id, CallerOf(2), kInbound, false);
  ASSERT_TRUE(fixture->relay->WaitForOutput(CallerOf(2)));
  const QString hostile = QStringLiteral("<img src=x onerror=window.ran=1><script>window.ran=2");
  fixture->telsim.SendRing(AccountOf(1).id, hostile, kInbound, false);
  ASSERT_TRUE(Until(page, "window.shown.length === 2"));
  EXPECT_EQ(Text(page, "ring-caller"), hostile);
  EXPECT_TRUE(
      Until(page, "window.ran === undefined && !document.querySelector('img, main script')"));
  EXPECT_FALSE(Text(page, "calls").contains(CallerOf(2)));
  EXPECT_EQ(browser->Evaluate(page, "document.getElementById('ring-link').href").toString(),
            "https://crm.example/search?phone=" + QUrl::toPercentEncoding(hostile));

  fixture->Ring(3);
  ASSERT_TRUE(Until(page, "window.shown.length === 3"));
  SaveScreenshot(page, QStringLiteral("agent-page.png"));
  const QString phone = Open("/", NewToken("phone", {"--extensions", "301"}), 390, 760);
  ASSERT_TRUE(Until(phone, "document.body.dataset.state === 'signed-in'"));
  SaveScreenshot(phone, QStringLiteral("agent-phone.png"));
}

TEST_F(PagesTest, AdminPageFollowsAccountsAndCallsAndTakesOnlyAdministrators) {
  const QString agent = Open("/admin", NewToken("a301", {"--extensions", "301"}));
  EXPECT_TRUE(Until(agent, "state.textContent === '관리자 토큰이 아닙니다' && !signin.hidden"));

  const QString page = Open("/admin", NewToken("boss", {"--admin"}));
  const QString signedIn = "accounts.querySelector('tr[data-id=\"agent301\"]')?.dataset.signedIn";
  ASSERT_TRUE(Until(page, signedIn + " === 'true'")) << browser->LastError();
  fixture->Ring(1);
  ASSERT_TRUE(Until(page, "calls.textContent.includes('" + CallerOf(1) + "')"));
  EXPECT_TRUE(Until(page,
                    "document.getElementById('webhooks-failing').textContent"
                    ".startsWith('CRM (')"));
  EXPECT_EQ(Text(page, "events-waiting"), "0");
  SaveScreenshot(page, QStringLiteral("admin-page.png"));
  fixture->telsim.SetOutage(QStringLiteral("점검 중"));
  EXPECT_TRUE(Until(page, signedIn + " === 'false'", kNoticeWaitMs));
}

}  // namespace
