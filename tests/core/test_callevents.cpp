#include <gtest/gtest.h>
#include <QFile>
#include <algorithm>

#include "core/log/logline.h"
#include "core/telephony/networktelcontrol.h"
#include "core/text/cp949.h"
#include "support/faketelcontrol.h"
#include "support/handlercore.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "tools/telsim/telephonyserver.h"

using namespace handlertest;

namespace {

QByteArray K(const char* utf8) { return ToCp949(QString::fromUtf8(utf8)); }

const QByteArray kMarkerCaller = "0999999999";

QString RingText(const QString& caller, const QString& inbound = QStringLiteral("07012345678"),
                 const QString& isDial = QStringLiteral("0")) {
  return QStringLiteral("EVENT:RING|ISDIAL:%1|CALLERID:%2|INEXTEN:%3|")
      .arg(isDial, caller, inbound);
}

QString HangUpText(const QString& caller, const QString& inbound = QStringLiteral("07012345678"),
                   const QString& peer = QStringLiteral("777")) {
  return QStringLiteral("EVENT:ANSWER|CHANNEL1:SIP/%1-00a1|CALLER1ID:%2|INEXTEN:%3|")
      .arg(peer, caller, inbound);
}

QByteArray CallerBytes(const CallNotice& notice) {
  return QByteArray(notice.callerId, sizeof notice.callerId);
}

struct Settings {
  int sendType = 2;
  int logType = 0;
  int centerId = 5;
};

// Slots 0, 3 and 6 are signed in with the extensions 301, 302 and 999; an
// extension client registered for 301 and 302 records what is relayed.
class CallEventsTest : public testing::Test {
 protected:
  void Start(const Settings& settings = {}) {
    SettingsStore& store = env.Settings();
    store.WriteProfileInt(QStringLiteral("SENDTYPE"), settings.sendType);
    store.WriteProfileInt(QStringLiteral("LOGTYPE"), settings.logType);
    store.WriteProfileInt(QStringLiteral("CENTERID"), settings.centerId);
    core = env.StartCore(controls.Factory());
    ASSERT_TRUE(core);
    controls[0].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok 301,"));
    controls[3].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok 302,"));
    controls[6].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok 999,"));
    client = std::make_unique<NoticeClient>();
    ASSERT_TRUE(client->Register(env.extPort, "301,302"));
  }

  // Relays a marker ring and returns what reached the client before it; the
  // marker changes the core, so this comes after every other check.
  std::vector<QByteArray> RelayedRecords() {
    core->SetSendType(2);
    controls[0].RaiseRing(RingText(QString::fromLatin1(kMarkerCaller)));
    std::vector<QByteArray> records;
    const auto isMarker = [](const QByteArray& record) {
      return CallerIdText(DecodeCallNotice(record)) == kMarkerCaller;
    };
    EXPECT_TRUE(WaitUntil([&] {
      records = client->Records();
      return std::any_of(records.begin(), records.end(), isMarker);
    }));
    records.erase(std::find_if(records.begin(), records.end(), isMarker), records.end());
    return records;
  }

  std::vector<CallNotice> RelayedNotices() {
    std::vector<CallNotice> notices;
    for (const QByteArray& record : RelayedRecords()) notices.push_back(DecodeCallNotice(record));
    return notices;
  }

  bool HasLine(const QByteArray& line) const { return HasActivityLine(*core, line); }

  // The call-log file after the separator that the start wrote.
  QByteArray CallLog() const { return env.LogFileText().mid(LogSeparatorLine().size()); }

  static QByteArray Entry(const QByteArray& text) { return FormatLogEntry(FixedNow(), text); }

  CoreEnvironment env;
  FakeTelControls controls;
  std::unique_ptr<CentrixCore> core;
  std::unique_ptr<NoticeClient> client;
};

TEST_F(CallEventsTest, RingShowsSummaryRecordsAndRelays) {
  Start();
  controls[0].RaiseRing(RingText(QStringLiteral("0212345678")));

  const QByteArray summary = "09:08:07 Ring: 0212345678 => 07012345678[301]";
  EXPECT_EQ(AccountRow(*core, 0)[4], FixedTimeText());
  EXPECT_EQ(AccountRow(*core, 0)[5], "Ring");
  // The lost record's line comes above the summary.
  const std::vector<QByteArray> lines = ActivityLines(*core);
  EXPECT_EQ(lines.at(0), RecordFailureLine("0212345678", "5678", "301"));
  EXPECT_EQ(lines.at(1), summary);
  EXPECT_EQ(core->Activity().Recent(), summary);
  EXPECT_EQ(CallLog(), Entry(summary));

  const std::vector<CallNotice> notices = RelayedNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].accountExt, 301);
  EXPECT_EQ(notices[0].inExten, 5678);
  EXPECT_EQ(CallerBytes(notices[0]), QByteArray("0212345678\0\0", 12));
  EXPECT_EQ(notices[0].state, kCallStateRinging);
}

TEST_F(CallEventsTest, RingDialledByAccountChangesNothing) {
  Start();
  const std::vector<QByteArray> row = AccountRow(*core, 0);
  const std::vector<QByteArray> lines = ActivityLines(*core);
  controls[0].RaiseRing(
      RingText(QStringLiteral("0212345678"), QStringLiteral("1234"), QStringLiteral("1")));
  EXPECT_EQ(AccountRow(*core, 0), row);
  EXPECT_EQ(ActivityLines(*core), lines);
  EXPECT_TRUE(core->Activity().Recent().isEmpty());
  EXPECT_TRUE(CallLog().isEmpty());
  EXPECT_TRUE(RelayedRecords().empty());
}

TEST_F(CallEventsTest, HangUpOfOwnCallOnlyMarksRow) {
  Start();
  const struct {
    int slot;
    QString text;
  } cases[] = {
      {0, HangUpText(QStringLiteral("0212345678"), QStringLiteral("1234"), QStringLiteral("301"))},
      {0, HangUpText(QStringLiteral("0212345678"), QStringLiteral("1234"), QStringLiteral("4301"))},
      // No channel and no extension yet: the empty value reads as 0.
      {9, QStringLiteral("CALLER1ID:0212345678|INEXTEN:1234|")},
  };
  for (int i = 0; i < 1000; ++i) core->Activity().InsertActivityLine("filler");
  const std::vector<QByteArray> lines = ActivityLines(*core);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    core->Accounts().List().SetItemText(c.slot, 4, "before");
    const std::vector<QByteArray> row = AccountRow(*core, c.slot);
    controls[c.slot].RaiseHangUp(c.text);
    std::vector<QByteArray> expected = row;
    expected[5] = K("발신통화");
    EXPECT_EQ(AccountRow(*core, c.slot), expected);
  }
  EXPECT_EQ(ActivityLines(*core), lines);  // not trimmed either
  EXPECT_TRUE(CallLog().isEmpty());
  EXPECT_TRUE(RelayedRecords().empty());
}

TEST_F(CallEventsTest, ActivityListIsCutBackWhateverLineTakesItPast1000) {
  Start();
  for (int i = 0; i < 1000; ++i) core->Activity().InsertActivityLine("filler");
  // A ring that is never answered: its lines alone must cut the list back.
  controls[0].RaiseRing(RingText(QStringLiteral("0212345678")));
  EXPECT_LT(core->Activity().List().Count(), 510);
  EXPECT_EQ(ActivityLines(*core).at(1), "09:08:07 Ring: 0212345678 => 07012345678[301]");
  for (int i = 0; i < 2000; ++i) {
    core->Activity().AppendActivityLine("sorted");
    ASSERT_LE(core->Activity().List().Count(), 1000);
  }
  controls[0].RaiseHangUp(HangUpText(QStringLiteral("0212345678")));
  EXPECT_LE(core->Activity().List().Count(), 1000);
  EXPECT_EQ(ActivityLines(*core).at(0), "09:08:07 HangUp: 0212345678 => 07012345678[301]");
}

TEST_F(CallEventsTest, CallEndOnlyUpdatesRow) {
  Start();
  controls[0].RaiseRing(RingText(QStringLiteral("0212345678")));
  core->Accounts().List().SetItemText(0, 4, "before");
  const std::vector<QByteArray> lines = ActivityLines(*core);
  const QByteArray log = CallLog();
  controls[0].RaiseCallEnd(QString());
  controls[0].RaiseCallEnd(QStringLiteral("CALLERID:0212345678|ISDIAL:1|"));
  EXPECT_EQ(AccountRow(*core, 0)[4], FixedTimeText());
  EXPECT_EQ(AccountRow(*core, 0)[5], K("통화종료"));
  EXPECT_EQ(ActivityLines(*core), lines);
  EXPECT_EQ(CallLog(), log);
}

TEST_F(CallEventsTest, MalformedEventTextsAreHandledSafely) {
  Start({2, 1, 5});
  const QString huge = QStringLiteral("CALLERID:") + QString(1 << 16, QLatin1Char('7')) +
                       QStringLiteral("|INEXTEN:1234|");
  const QString binary =
      QString::fromUtf16(u"CALLERID:\u0000\u0001\u0002\uFFFF4567890|INEXTEN:\u00001|", 32);
  const QString texts[] = {
      QString(), QStringLiteral("|||:::---"), huge,
      binary,    QStringLiteral("CALLERID"),  QStringLiteral("INEXTEN:|CALLERID:|")};
  for (const QString& text : texts) {
    controls[0].RaiseRing(text);
    controls[0].RaiseHangUp(text);
    controls[0].RaiseCallEnd(text);
    EXPECT_FALSE(core->Activity().Recent().contains('\0'));
  }
  for (int foreignId : {kFirstTelControlId - 1, kFirstTelControlId + kTelControlCount}) {
    emit controls[0].Ring(foreignId, RingText(QStringLiteral("0212345678")));
    emit controls[0].HangUp(foreignId, HangUpText(QStringLiteral("0212345678")));
    emit controls[0].CallEnd(foreignId, QString());
  }
  // Only the ring of the huge caller is long enough: the binary caller ends
  // at its NUL, empty.
  const std::vector<CallNotice> notices = RelayedNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(CallerBytes(notices[0]), QByteArray(11, '7') + '\0');
}

TEST(SimulatedCallEventsTest, CallFromTelephonyServerWalksThroughAccountRow) {
  TelephonyServer server;
  ASSERT_TRUE(server.Listen(0));
  server.AddAccount({"agent", "pw", "07012345301", 1, {}});
  CoreEnvironment env;
  SettingsStore& settings = env.Settings();
  settings.WriteProfileString(QStringLiteral("UID3"), "agent");
  settings.WriteProfileString(QStringLiteral("PWD3"), "pw");
  settings.WriteProfileString(QStringLiteral("SERVERIP3"), "127.0.0.1");
  settings.WriteProfileInt(QStringLiteral("SENDTYPE"), 1);
  auto core = env.StartCore(NetworkTelControlFactory(server.Port()));
  ASSERT_TRUE(core);
  ASSERT_TRUE(WaitUntil([&] { return core->Accounts().Account(2).m_nExtension == 301; }));
  const auto status = [&] { return core->Accounts().List().GetItemText(2, 5); };

  server.SendRing("agent", "0212345678", "07012341234", true);  // dialled by the account
  server.SendRing("agent", "0212345678", "07012341234", false);
  ASSERT_TRUE(WaitUntil([&] { return status() == "Ring"; }));
  const QByteArray ring = "09:08:07 Ring: 0212345678 => 07012341234[301]";
  EXPECT_EQ(core->Activity().Recent(), ring);

  server.SendHangUp("agent", "0212345678", "07012341234", "trunk");
  ASSERT_TRUE(WaitUntil([&] { return status() == K("통화"); }));
  server.SendCallEnd("agent");
  ASSERT_TRUE(WaitUntil([&] { return status() == K("통화종료"); }));
  server.SendHangUp("agent", "0319998888", "1234", "4301");  // placed by the account
  ASSERT_TRUE(WaitUntil([&] { return status() == K("발신통화"); }));

  const QByteArray hangUp = "09:08:07 HangUp: 0212345678 => 07012341234[301]";
  EXPECT_EQ(ActivityLines(*core).at(0), hangUp);
  EXPECT_EQ(ActivityLines(*core).at(1), ring);
  EXPECT_EQ(env.LogFileText(), LogSeparatorLine() + FormatLogEntry(FixedNow(), hangUp));
}

}  // namespace
