#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <map>

#include "app/exitcode.h"
#include "e2e/faulttest.h"

// The state directory's disk failing under the running relay: its spool
// removed or shortened, the file system full or turned read-only, the reject
// file unwritable. Every call rung ends up once in the database or in the
// reject file, and the journal names the disk, not the database.
namespace {

constexpr int kCallIntervalMs = 100;

bool Run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
         process.exitCode() == 0;
}

// The state directory on a file system of its own, unmounted however the
// test ends (lazily, should a relay still hold it); a loop mount takes its
// device along.
class StateFileSystem {
 public:
  enum class Kind { Plain, SmallTmpfs, Ext4Image };
  explicit StateFileSystem(Kind kind) : m_path(m_dir.filePath(QStringLiteral("state"))) {
    QDir().mkpath(m_path);
    const QString image = m_dir.filePath(QStringLiteral("state.img"));
    if (kind == Kind::SmallTmpfs) {
      m_mounted = Run("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", m_path});
    } else if (kind == Kind::Ext4Image) {
      m_mounted = Run("truncate", {"-s", "8M", image}) && Run("mkfs.ext4", {"-q", "-F", image}) &&
                  Run("mount", {"-o", "loop,errors=remount-ro", image, m_path});
    }
    m_ready = kind == Kind::Plain || m_mounted;
  }
  ~StateFileSystem() {
    if (m_mounted) Run("umount", {"-l", m_path});
  }
  bool Ready() const { return m_ready; }
  const QString& Path() const { return m_path; }
  QString File(const char* name) const { return QDir(m_path).filePath(QString::fromLatin1(name)); }

  // Takes every free block; Free gives them back.
  bool Fill() const {
    QFile filler(File("filler"));
    if (!filler.open(QIODevice::WriteOnly)) return false;
    while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) {
    }
    return true;
  }
  bool Free() const { return QFile::remove(File("filler")); }
  // As ext4 does on an error with errors=remount-ro: read-only at once,
  // whatever is open for writing.
  bool TurnReadOnly() const {
    QProcess findmnt;
    findmnt.start("findmnt", {"-n", "-o", "SOURCE", m_path});
    if (!findmnt.waitForFinished()) return false;
    const QString device = QFileInfo(QString::fromUtf8(findmnt.readAll()).trimmed()).fileName();
    QFile trigger(QStringLiteral("/sys/fs/ext4/%1/trigger_fs_error").arg(device));
    return trigger.open(QIODevice::WriteOnly) && trigger.write("1") == 1;
  }

 private:
  QTemporaryDir m_dir;
  const QString m_path;
  bool m_mounted = false;
  bool m_ready = false;
};

const QString kRecording = QStringLiteral(
    "INSERT INTO calls (center_id, caller, in_exten, account_ext) VALUES (c, caller, tail, ext);");

bool ProcedureDoes(PostgresCluster& cluster, const QString& body) {
  return cluster
      .Execute(QStringLiteral(
                   "DROP FUNCTION cid_CallInWrite; CREATE FUNCTION cid_CallInWrite(c integer, "
                   "caller text, tail text, ext text) RETURNS void LANGUAGE plpgsql AS $$ "
                   "BEGIN %1 END $$")
                   .arg(body))
      .has_value();
}

struct DiskFault {
  const char* name;
  StateFileSystem::Kind kind;
  // At the fault's start, halfway through it, at its end.
  std::function<bool(const StateFileSystem&, PostgresCluster&)> begin, middle, end;
  const char* journalError;
};

const DiskFault kDiskFaults[] = {
    {"SpoolRemoved",
     StateFileSystem::Kind::Plain,
     [](const StateFileSystem& state, PostgresCluster&) {
       return QFile::remove(state.File("callrecords.spool"));
     },
     {},
     {},
     "DB 기록 대기열 파일이 지워졌습니다"},
    {"SpoolShortenedWhileTheDatabaseIsFrozen", StateFileSystem::Kind::Plain,
     [](const StateFileSystem&, PostgresCluster& cluster) { return cluster.Freeze(); },
     [](const StateFileSystem& state, PostgresCluster&) {
       return QFile::resize(state.File("callrecords.spool"), 0);
     },
     [](const StateFileSystem&, PostgresCluster& cluster) { return cluster.Thaw(); },
     "DB 기록 대기열 파일이 잘렸습니다"},
    {"FileSystemFullThenFreed",
     StateFileSystem::Kind::SmallTmpfs,
     [](const StateFileSystem& state, PostgresCluster&) { return state.Fill(); },
     {},
     [](const StateFileSystem& state, PostgresCluster&) { return state.Free(); },
     "DB 기록 대기열 디스크 오류: "},
    {"FileSystemTurnedReadOnly",
     StateFileSystem::Kind::Ext4Image,
     [](const StateFileSystem& state, PostgresCluster&) { return state.TurnReadOnly(); },
     {},
     {},
     "DB 기록 대기열 디스크 오류: "},
    {"RejectFileUnwritableWhileTheDatabaseRefusesEveryCall",
     StateFileSystem::Kind::Plain,
     [](const StateFileSystem& state, PostgresCluster& cluster) {
       return QDir().mkdir(state.File("callrecords.rejected.txt")) &&
              ProcedureDoes(cluster, QStringLiteral("RAISE EXCEPTION 'refused';"));
     },
     {},
     [](const StateFileSystem& state, PostgresCluster& cluster) {
       return ProcedureDoes(cluster, kRecording) &&
              QDir().rmdir(state.File("callrecords.rejected.txt"));
     },
     "DB 기록 거부 파일 디스크 오류: "},
};

class DiskFaultTest : public FaultTest, public testing::WithParamInterface<DiskFault> {
 protected:
  DiskFaultTest() : state(GetParam().kind) {
    adjustRelay = [this](RelayProcess::Options& options) {
      options.stateDirectory = state.Path();
      options.journal = true;
    };
  }
  void SetUp() override {
    ASSERT_TRUE(state.Ready()) << "mount";
    ASSERT_TRUE(ProcedureDoes(*cluster, kRecording)) << cluster->LastError().toStdString();
    FaultTest::SetUp();
  }

  void CallFor(int& sequence, int durationMs) {
    for (int n = 0; n < durationMs / kCallIntervalMs; ++n) {
      ++sequence;
      fixture->Call(sequence, AccountOf(sequence % accountCount + 1).id);
      WaitUntil([] { return false; }, kCallIntervalMs);
    }
  }

  // How often each call went to the database and to the reject file.
  std::map<int, int> RowsAndRejectLines() {
    std::map<int, int> counts = RecordedCounts();
    QFile rejects(state.File("callrecords.rejected.txt"));
    if (!rejects.open(QIODevice::ReadOnly)) return counts;
    const QByteArray marker = QStringLiteral("DB 기록 실패: ").toUtf8();
    for (const QByteArray& line : rejects.readAll().split('\n')) {
      const qsizetype at = line.indexOf(marker);
      if (at >= 0) ++counts[SequenceOf(line.mid(at + marker.size(), 11))];
    }
    return counts;
  }

  StateFileSystem state;
};

TEST_P(DiskFaultTest, EveryCallEndsUpOnceAndTheJournalNamesTheCause) {
  const DiskFault& fault = GetParam();
  int sequence = 0;
  CallFor(sequence, 1000);
  ASSERT_TRUE(fault.begin(state, *cluster)) << cluster->LastError().toStdString();
  CallFor(sequence, 1500);
  if (fault.middle) {
    ASSERT_TRUE(fault.middle(state, *cluster));
  }
  CallFor(sequence, 1500);
  if (fault.end) {
    ASSERT_TRUE(fault.end(state, *cluster)) << cluster->LastError().toStdString();
  }
  CallFor(sequence, 1000);

  std::map<int, int> counts;
  WaitUntil(
      [&] {
        counts = RowsAndRejectLines();
        return int(counts.size()) >= sequence;
      },
      60000);
  for (int s = 1; s <= sequence; ++s) EXPECT_EQ(counts[s], 1) << "call " << s;
  EXPECT_EQ(counts.count(-1), 0u) << "rows or lines of calls never made";
  const QString journal = fixture->relay->StandardError();
  EXPECT_TRUE(journal.contains(QStringLiteral("<3>") + QString::fromUtf8(fault.journalError)))
      << journal.right(4000).toStdString();
  EXPECT_FALSE(journal.contains(QStringLiteral("읽을 수 없는 기록")));
}

INSTANTIATE_TEST_SUITE_P(Disk, DiskFaultTest, testing::ValuesIn(kDiskFaults),
                         [](const testing::TestParamInfo<DiskFault>& info) {
                           return std::string(info.param.name);
                         });

// Two relays on one state directory would each write the other's calls or
// lose them: the second ends at start and says why.
TEST_F(FaultTest, SecondRelayOnTheSameStateDirectoryEndsAtStart) {
  RelayProcess::Options options;
  options.odbc = cluster->ConnectionString();
  options.stateDirectory = fixture->relay->options().stateDirectory;
  RelayProcess second(options);
  ASSERT_TRUE(second.Start());
  ASSERT_TRUE(second.WaitFinished());
  EXPECT_EQ(second.ExitCode(), ToInt(ExitCode::StateDirectoryInUse));
  EXPECT_TRUE(second.StandardError().contains(
      QStringLiteral("DB 기록 대기열을 다른 프로세스가 쓰고 있습니다: ") + options.stateDirectory))
      << second.StandardError().toStdString();
  fixture->Call(1);
  ExpectEveryCallRecorded(1, 1);
}

}  // namespace
