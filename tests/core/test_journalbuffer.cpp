#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/log/journalbuffer.h"
#include "support/qtwait.h"

namespace {

QByteArray ReadAvailable(int fd) {
  QByteArray bytes;
  char chunk[65536];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, got);
  return bytes;
}

// A reader that takes nothing costs lines, never the event loop; once it
// reads again it gets whole lines and then the count of those dropped.
TEST(JournalBuffer, AStuckReaderCostsLinesNotTheLoop) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
  constexpr int kLines = 3000;
  const QByteArray line(999, 'x');
  {
    JournalBuffer journal(fds[1]);
    for (int i = 0; i < kLines; ++i) {
      journal.Add(JournalPriority::Info, line);
      journal.Flush();
    }
    const qint64 dropped = journal.Dropped();
    EXPECT_GT(dropped, 0);

    QByteArray read;
    const QByteArray told = DroppedJournalLinesText(dropped) + '\n';
    ASSERT_TRUE(WaitUntil([&] {
      read += ReadAvailable(fds[0]);
      return read.endsWith(told);
    }));
    const QList<QByteArray> lines = read.chopped(told.size()).split('\n');
    EXPECT_EQ(lines.size() - 1, kLines - dropped);  // the last is empty after the final line end
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) ASSERT_EQ(lines[i], line) << i;
  }
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
