#include <gtest/gtest.h>

#include <QProcess>

#include "app/exitcode.h"
#include "e2e/faulttest.h"

// The state directory's disk failing under the running relay: every call
// rung ends up once in the database or the reject file, and the journal
// names the disk, not the database.
namespace {

// A shell command on the state directory, $0; true when it ended with 0.
bool Shell(const char* command, const QString& state) {
  if (!command) return true;
  QProcess shell;
  shell.start("sh", {"-c", command, state});
  return shell.waitForFinished(60000) && shell.exitStatus() == QProcess::NormalExit &&
         shell.exitCode() == 0;
}

struct DiskFault {
  const char* name;
  const char* mount;  // of a file system for the state directory alone
  const char* begin;
  const char* middle;
  const char* end;
  bool freezeDatabase;
  bool refuseEveryCall;
  const char* journalError;
};

const DiskFault kDiskFaults[] = {
    {"SpoolRemoved", nullptr, "rm $0/callrecords.spool", nullptr, nullptr, false, false,
     "DB 기록 대기열 파일이 지워졌습니다"},
    {"SpoolShortenedWhileTheDatabaseIsFrozen", nullptr, nullptr,
     "truncate -s 0 $0/callrecords.spool", nullptr, true, false,
     "DB 기록 대기열 파일이 잘렸습니다"},
    {"FileSystemFullThenFreed", "mount -t tmpfs -o size=64k tmpfs $0",
     "cat /dev/zero >$0/filler 2>/dev/null; true", nullptr, "rm $0/filler", false, false,
     "DB 기록 대기열 디스크 오류: "},
    // As ext4 turns read-only on an error, whatever is open for writing.
    {"FileSystemTurnedReadOnly",
     "truncate -s 8M $0.img && mkfs.ext4 -qF $0.img && mount -o loop,errors=remount-ro $0.img $0",
     "echo 1 >/sys/fs/ext4/$(basename $(findmnt -n -o SOURCE $0))/trigger_fs_error", nullptr,
     nullptr, false, false, "DB 기록 대기열 디스크 오류: "},
    {"RejectFileUnwritableWhileTheDatabaseRefusesEveryCall", nullptr,
     "mkdir $0/callrecords.rejected.txt", nullptr, "rmdir $0/callrecords.rejected.txt", false, true,
     "DB 기록 거부 파일 디스크 오류: "},
};

class DiskFaultTest : public FaultTest, public testing::WithParamInterface<DiskFault> {
 protected:
  DiskFaultTest() {
    adjustRelay = [this](RelayProcess::Options& options) {
      options.stateDirectory = m_state.filePath("state");
      options.journal = true;
    };
  }
  void SetUp() override {
    ASSERT_TRUE(QDir().mkpath(m_state.filePath("state")));
    m_mounted = GetParam().mount && Shell(GetParam().mount, m_state.filePath("state"));
    ASSERT_EQ(m_mounted, GetParam().mount != nullptr);
    ASSERT_TRUE(RefuseEveryCall(false)) << cluster->LastError().toStdString();
    FaultTest::SetUp();
  }
  // Lazily, should the relay still hold it; a loop mount takes its device along.
  ~DiskFaultTest() override {
    if (m_mounted) Shell("umount -l $0", m_state.filePath("state"));
  }
  bool RefuseEveryCall(bool refuse) {
    return cluster
        ->Execute(QStringLiteral(
                      "DROP FUNCTION cid_CallInWrite; CREATE FUNCTION cid_CallInWrite(c integer, "
                      "caller text, tail text, ext text) RETURNS void LANGUAGE plpgsql AS $$ "
                      "BEGIN %1 END $$")
                      .arg(refuse ? "RAISE EXCEPTION 'refused';"
                                  : "INSERT INTO calls (center_id, caller, in_exten, account_ext) "
                                    "VALUES (c, caller, tail, ext);"))
        .has_value();
  }
  // Ten calls a second; true once the step after them worked.
  bool CallThen(int& sequence, const std::function<bool()>& step) {
    for (int n = 0; n < 15; ++n, WaitUntil([] { return false; }, 100)) fixture->Call(++sequence);
    return step();
  }

  QTemporaryDir m_state;
  bool m_mounted = false;
};

TEST_P(DiskFaultTest, EveryCallEndsUpOnceAndTheJournalNamesTheCause) {
  const DiskFault& fault = GetParam();
  const QString state = fixture->relay->options().stateDirectory;
  int sequence = 0;
  ASSERT_TRUE(CallThen(sequence, [&] {
    return Shell(fault.begin, state) && (!fault.freezeDatabase || cluster->Freeze()) &&
           (!fault.refuseEveryCall || RefuseEveryCall(true));
  }));
  ASSERT_TRUE(CallThen(sequence, [&] { return Shell(fault.middle, state); }));
  ASSERT_TRUE(CallThen(sequence, [&] {
    return (!fault.freezeDatabase || cluster->Thaw()) &&
           (!fault.refuseEveryCall || RefuseEveryCall(false)) && Shell(fault.end, state);
  }));
  ASSERT_TRUE(CallThen(sequence, [] { return true; }));

  // Rows and reject lines by call.
  std::map<int, int> counts;
  WaitUntil(
      [&] {
        counts = RecordedCounts();
        QFile rejects(state + "/callrecords.rejected.txt");
        const QByteArray marker = QStringLiteral("DB 기록 실패: ").toUtf8();
        for (const QByteArray& line :
             rejects.open(QIODevice::ReadOnly) ? rejects.readAll().split('\n') : QByteArrayList()) {
          if (line.contains(marker)) ++counts[SequenceOf(line.split(' ').at(7))];
        }
        return int(counts.size()) >= sequence;
      },
      60000);
  for (int s = 1; s <= sequence; ++s) EXPECT_EQ(counts[s], 1) << "call " << s;
  EXPECT_EQ(counts.count(-1), 0u) << "rows or lines of calls never made";
  const QString journal = fixture->relay->StandardError();
  EXPECT_TRUE(journal.contains(QStringLiteral("<3>") + QString::fromUtf8(fault.journalError)))
      << journal.right(4000).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Disk, DiskFaultTest, testing::ValuesIn(kDiskFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// Two relays on one state directory would each write the other's calls or lose them.
TEST_F(FaultTest, SecondRelayOnTheSameStateDirectoryEndsAtStart) {
  RelayProcess::Options options;
  options.odbc = cluster->ConnectionString();
  options.stateDirectory = fixture->relay->options().stateDirectory;
  RelayProcess second(options);
  ASSERT_TRUE(second.Start() && second.WaitFinished());
  EXPECT_EQ(second.ExitCode(), ToInt(ExitCode::StateDirectoryInUse));
  EXPECT_TRUE(second.StandardError().contains(
      QStringLiteral("DB 기록 대기열을 다른 프로세스가 쓰고 있습니다: ") + options.stateDirectory));
  fixture->Call(1);
  ExpectEveryCallRecorded(1, 1);
}

}  // namespace
