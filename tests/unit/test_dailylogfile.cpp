#include "core/log/dailylogfile.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

const QByteArray kSeparator = QByteArray(76, '=') + "\r\n";
const QDate kDay(2026, 12, 6);

QDateTime At(const QDate& date, int hour, int minute, int second = 0) {
  return QDateTime(date, QTime(hour, minute, second));
}

// Missing files read as null so that "never created" differs from "empty".
QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

class DailyLogFileTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }
  QString LogDir() const { return m_temp.filePath(QStringLiteral("CIDLog")); }
  QString InLogDir(const char* name) const { return LogDir() + '/' + QLatin1String(name); }

  QTemporaryDir m_temp;
};

TEST_F(DailyLogFileTest, SecondStartAppendsAndFirstCheckSwitchesToHourlyFile) {
  {
    DailyLogFile first(LogDir());  // the directory does not exist yet
    first.OpenAtStartup(kDay);
    ASSERT_TRUE(first.IsOpen());
    EXPECT_EQ(first.FileName(), InLogDir("CID_U_20261206.txt"));
    first.AppendLogLine(At(kDay, 10, 0, 1), "one");
  }
  DailyLogFile second(LogDir());
  second.OpenAtStartup(kDay);
  second.AppendLogLine(At(kDay, 11, 0, 2), "two");
  second.CheckLogFileDate(kDay);
  EXPECT_EQ(second.FileName(), InLogDir("CID_20261206.txt"));
  second.AppendLogLine(At(kDay, 12, 0, 3), "three");
  second.CheckLogFileDate(kDay);  // same name: no new separator
  second.AppendLogLine(At(kDay, 13, 0, 4), "four");
  second.Close();

  EXPECT_EQ(ReadFile(InLogDir("CID_U_20261206.txt")),
            kSeparator + "12-06 10:00:01:  one\r\n" + kSeparator + "12-06 11:00:02:  two\r\n");
  EXPECT_EQ(ReadFile(InLogDir("CID_20261206.txt")),
            kSeparator + "12-06 12:00:03:  three\r\n12-06 13:00:04:  four\r\n");
}

TEST_F(DailyLogFileTest, StartBeforeMidnightKeepsStartupFileUntilFirstCheck) {
  const QDate nextDay = kDay.addDays(1);
  DailyLogFile log(LogDir());
  log.OpenAtStartup(kDay);
  log.AppendLogLine(At(kDay, 23, 45), "before midnight");
  log.AppendLogLine(At(nextDay, 0, 10), "after midnight");
  log.CheckLogFileDate(nextDay);
  log.AppendLogLine(At(nextDay, 0, 40), "after the check");
  log.Close();

  EXPECT_EQ(ReadFile(InLogDir("CID_U_20261206.txt")),
            kSeparator + "12-06 23:45:00:  before midnight\r\n12-07 00:10:00:  after midnight\r\n");
  EXPECT_EQ(ReadFile(InLogDir("CID_20261207.txt")),
            kSeparator + "12-07 00:40:00:  after the check\r\n");
  EXPECT_FALSE(QFile::exists(InLogDir("CID_20261206.txt")));
}

TEST_F(DailyLogFileTest, EntryKeepsTimeFormatAndCp949BytesUnchanged) {
  // "수신번호" in CP949, then bytes that are no text at all.
  const QByteArray text("\xbc\xf6\xbd\xc5\xb9\xf8\xc8\xa3 01012345678 \xff\x80%s%n");
  DailyLogFile log(LogDir());
  log.OpenAtStartup(kDay);
  log.AppendLogLine(At(kDay, 9, 5, 7), text);
  log.Close();
  EXPECT_EQ(ReadFile(InLogDir("CID_U_20261206.txt")),
            kSeparator + "12-06 09:05:07:  " + text + "\r\n");
}

TEST_F(DailyLogFileTest, UnusableDirectoryDropsLinesUntilALaterSwitchSucceeds) {
  // A regular file where the directory should be: neither mkdir nor open can succeed,
  // even as root.
  QFile blocker(LogDir());
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();

  DailyLogFile log(LogDir());
  log.OpenAtStartup(kDay);
  EXPECT_FALSE(log.IsOpen());
  log.AppendLogLine(At(kDay, 10, 0), "dropped");
  log.CheckLogFileDate(kDay);
  EXPECT_FALSE(log.IsOpen());

  ASSERT_TRUE(QFile::remove(LogDir()));
  ASSERT_TRUE(QDir().mkdir(LogDir()));
  log.CheckLogFileDate(kDay);  // same name as the failed attempt: no retry
  EXPECT_FALSE(log.IsOpen());
  log.CheckLogFileDate(kDay.addDays(1));
  ASSERT_TRUE(log.IsOpen());
  log.AppendLogLine(At(kDay.addDays(1), 0, 30), "kept");
  log.Close();

  EXPECT_EQ(ReadFile(InLogDir("CID_20261207.txt")), kSeparator + "12-07 00:30:00:  kept\r\n");
  EXPECT_EQ(QDir(LogDir()).entryList(QDir::Files), QStringList{"CID_20261207.txt"});
}

TEST_F(DailyLogFileTest, SecondCopyGetsNoFileWhileTheFirstHoldsIt) {
  DailyLogFile holder(LogDir());
  holder.OpenAtStartup(kDay);
  ASSERT_TRUE(holder.IsOpen());

  DailyLogFile intruder(LogDir());
  intruder.OpenAtStartup(kDay);
  EXPECT_FALSE(intruder.IsOpen());
  intruder.AppendLogLine(At(kDay, 10, 0), "intruder");
  holder.AppendLogLine(At(kDay, 10, 1), "holder");
  holder.Close();

  DailyLogFile next(LogDir());  // the lock goes with the close
  next.OpenAtStartup(kDay);
  EXPECT_TRUE(next.IsOpen());
  next.Close();
  EXPECT_EQ(ReadFile(InLogDir("CID_U_20261206.txt")),
            kSeparator + "12-06 10:01:00:  holder\r\n" + kSeparator);
}

TEST_F(DailyLogFileTest, WriteErrorKeepsTheFileOpen) {
  if (!QFile::exists(QStringLiteral("/dev/full"))) GTEST_SKIP() << "no /dev/full";
  ASSERT_TRUE(QDir().mkdir(LogDir()));
  ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), InLogDir("CID_U_20261206.txt")));
  DailyLogFile log(LogDir());
  log.OpenAtStartup(kDay);
  ASSERT_TRUE(log.IsOpen());
  log.AppendLogLine(At(kDay, 10, 0), "no space");
  EXPECT_TRUE(log.IsOpen());
}

}  // namespace
