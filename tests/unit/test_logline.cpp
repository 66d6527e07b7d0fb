#include <gtest/gtest.h>

#include <QThread>

#include "core/config/localclock.h"
#include "core/log/logline.h"
#include "support/scopedzone.h"

namespace {

TEST(LogLine, SeparatorIs76EqualsSigns) {
  EXPECT_EQ(LogSeparatorLine(),
            "============================================================================\r\n");
}

TEST(LogLine, EntryHasTimeWithoutYearAndTheTextUnchanged) {
  const QDateTime at(QDate(2026, 12, 6), QTime(9, 5, 7));
  EXPECT_EQ(FormatLogEntry(at, "Ring"), "12-06 09:05:07:  Ring\r\n");
  EXPECT_EQ(FormatLogEntry(at, ""), "12-06 09:05:07:  \r\n");
  const QByteArray raw("STATUS:1|\xb0\xa1\x80\r\n|");
  EXPECT_EQ(FormatLogEntry(QDateTime(QDate(2027, 1, 31), QTime(23, 59, 59)), raw),
            "01-31 23:59:59:  " + raw + "\r\n");
}

TEST(LogLine, ClockTextIsTwentyFourHourWithLeadingZeros) {
  EXPECT_EQ(ClockText(QTime(0, 0, 0)), "00:00:00");
  EXPECT_EQ(ClockText(QTime(9, 5, 7)), "09:05:07");
  EXPECT_EQ(ClockText(QTime(23, 59, 59, 999)), "23:59:59");
}

// The log line of an event is stamped with the local time, whatever offset
// the zone has on that day.
TEST(LogLine, LocalNowReadsAsTheLocalClock) {
  for (const char* tz : {"Asia/Seoul", "America/St_Johns"}) {
    const ScopedZone zone(tz);
    // The offset is looked up again in the next second; both read in the same one.
    const qint64 changedAt = QDateTime::currentSecsSinceEpoch();
    QDateTime local;
    QDateTime now;
    do {
      QThread::msleep(5);
      local = QDateTime::currentDateTime();
      now = LocalNow();
    } while (local.toSecsSinceEpoch() == changedAt ||
             local.toSecsSinceEpoch() != now.toSecsSinceEpoch());
    EXPECT_EQ(now.offsetFromUtc(), local.offsetFromUtc()) << tz;
    EXPECT_EQ(FormatLogEntry(now, "x"), FormatLogEntry(local, "x")) << tz;
  }
}

TEST(LogLine, StartupAndHourlyFilesHaveDifferentNames) {
  const QDate day(2026, 12, 6);
  EXPECT_EQ(StartupLogFileName(QStringLiteral("/var/log/CIDLog"), day),
            QStringLiteral("/var/log/CIDLog/CID_U_20261206.txt"));
  EXPECT_EQ(HourlyLogFileName(QStringLiteral("/var/log/CIDLog"), day),
            QStringLiteral("/var/log/CIDLog/CID_20261206.txt"));
  EXPECT_EQ(HourlyLogFileName(QStringLiteral("/tmp/x"), QDate(2027, 1, 2)),
            QStringLiteral("/tmp/x/CID_20270102.txt"));
}

}  // namespace

namespace {

TEST(LogLine, JournalLineIsOneReadableUtf8Line) {
  const struct {
    QByteArray activity;
    QByteArray journal;
  } cases[] = {
      {"09:05:07 Ring: 0101 => 5301[301]", "09:05:07 Ring: 0101 => 5301[301]"},
      {"\x07"
       "301 : 01012345678\n",
       "\\x07301 : 01012345678"},
      {"\x06\x06"
       "301 : 0101 ->  301\r\n",
       "\\x06\\x06301 : 0101 ->  301"},
      {"a\nb\tc", "a\\x0ab\tc"},
      {"\xb7\xce\xb1\xd7\xc0\xce", "로그인"},
      // Converted and escaped in one line; the escape ends a run of text.
      {"\x07\xb7\xce\xb1\xd7\xc0\xce\x01"
       "301\r\n",
       "\\x07로그인\\x01301"},
      {"\x7f~ \x1f", "\x7f~ \\x1f"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(JournalLine(c.activity), c.journal) << c.activity.toHex().constData();
}

}  // namespace
