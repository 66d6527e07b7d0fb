#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryFile>
#include <optional>

#include "core/log/journalstream.h"
#include "support/qtprint.h"

namespace {

TEST(JournalStreamTest, PrefixesEveryLineOnlyForTheJournal) {
  struct Case {
    JournalPriority priority;
    QByteArray text;
    QByteArray journal, plain;
  };
  const Case cases[] = {
      {JournalPriority::Error, "서버에 접속할수 없습니다.", "<3>서버에 접속할수 없습니다.\n",
       "서버에 접속할수 없습니다.\n"},
      {JournalPriority::Warning, "port 8688 in use", "<4>port 8688 in use\n", "port 8688 in use\n"},
      {JournalPriority::Info, "two\nlines", "<6>two\n<6>lines\n", "two\nlines\n"},
      {JournalPriority::Info, "ends in a break\n", "<6>ends in a break\n", "ends in a break\n"},
      {JournalPriority::Error, "", "<3>\n", "\n"},
      {JournalPriority::Error, "\n\n", "<3>\n<3>\n", "\n\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JournalText(c.priority, c.text, true), c.journal) << c.text.constData();
    EXPECT_EQ(JournalText(c.priority, c.text, false), c.plain) << c.text.constData();
  }
}

TEST(JournalStreamTest, KnowsTheJournalByDeviceAndInode) {
  QTemporaryFile stream;
  QTemporaryFile other;
  ASSERT_TRUE(stream.open() && other.open());
  struct stat streamStatus {};
  struct stat otherStatus {};
  ASSERT_EQ(::fstat(stream.handle(), &streamStatus), 0);
  ASSERT_EQ(::fstat(other.handle(), &otherStatus), 0);
  const QByteArray device = QByteArray::number(qulonglong(streamStatus.st_dev));
  const QByteArray inode = QByteArray::number(qulonglong(streamStatus.st_ino));
  const std::optional<QByteArray> saved = qEnvironmentVariableIsSet("JOURNAL_STREAM")
                                              ? std::optional(qgetenv("JOURNAL_STREAM"))
                                              : std::nullopt;
  struct Case {
    std::optional<QByteArray> variable;
    bool journal;
  };
  const Case cases[] = {
      {device + ':' + inode, true},
      {std::nullopt, false},
      {"", false},
      {device + ':' + QByteArray::number(qulonglong(otherStatus.st_ino)), false},
      {QByteArray::number(qulonglong(streamStatus.st_dev) + 1) + ':' + inode, false},
      {device + ':', false},
      {':' + inode, false},
      {device + ':' + inode + 'x', false},
      {"garbage", false},
  };
  for (const Case& c : cases) {
    if (c.variable) {
      qputenv("JOURNAL_STREAM", *c.variable);
    } else {
      qunsetenv("JOURNAL_STREAM");
    }
    EXPECT_EQ(IsJournalStream(stream.handle()), c.journal)
        << c.variable.value_or("(unset)").constData();
  }
  EXPECT_FALSE(IsJournalStream(-1));
  if (saved) {
    qputenv("JOURNAL_STREAM", *saved);
  } else {
    qunsetenv("JOURNAL_STREAM");
  }
}

}  // namespace
