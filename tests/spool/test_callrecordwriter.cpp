#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <memory>

#include "core/db/callrecordrejectfile.h"
#include "core/db/callrecordspool.h"
#include "core/db/callrecordwriter.h"
#include "core/text/cp949.h"
#include "support/postgrestest.h"
#include "support/qtwait.h"

// The writer against a real PostgreSQL that stops, freezes and refuses: every
// record reaches the database once or the reject file, in order, and the
// thread that appends never waits for the database.
namespace {

constexpr int kLandWaitMs = 60000;

CallRecord Record(int n, QByteArray caller = {}) {
  if (caller.isEmpty()) caller = "010" + QByteArray::number(n).rightJustified(8, '0');
  return {1, caller, "1234", QByteArray::number(300 + n % 10), 1700000000000LL + n};
}

CallRow RowOf(const CallRecord& record) {
  return {record.centerId, record.caller, record.inboundTail, record.accountExt};
}

class CallRecordWriterTest : public PostgresTest {
 protected:
  void SetUp() override {
    PostgresTest::SetUp();
    if (HasFatalFailure()) return;
    OpenSpool();
    m_rejects = std::make_shared<CallRecordRejectFile>(m_dir.filePath("rejected.txt"));
  }
  void TearDown() override {
    if (m_writer) m_writer->Finish(std::chrono::milliseconds(0));
    s_cluster->Thaw();
  }

  void OpenSpool() {
    m_spool = std::make_shared<CallRecordSpool>(m_dir.filePath("state"));
    ASSERT_TRUE(m_spool->Open()) << m_spool->ErrorString().toStdString();
  }
  void StartWriter() {
    CallRecordWriter::Settings settings;
    settings.timeouts.loginSeconds = 2;
    settings.timeouts.querySeconds = 1;
    settings.callGrace = std::chrono::milliseconds(1000);
    settings.firstRetryWait = std::chrono::milliseconds(100);
    settings.longestRetryWait = std::chrono::milliseconds(800);
    settings.fallBehindAfter = std::chrono::milliseconds(1000);
    settings.checkEvery = std::chrono::milliseconds(100);
    m_writer = std::make_unique<CallRecordWriter>(m_spool, m_rejects, s_cluster->ConnectionString(),
                                                  settings);
    QObject::connect(m_writer.get(), &CallRecordWriter::FellBehind,
                     [this](qint64 waiting) { m_behind.append(waiting); });
    QObject::connect(m_writer.get(), &CallRecordWriter::CaughtUp, [this] { ++m_caughtUp; });
    QObject::connect(m_writer.get(), &CallRecordWriter::DatabaseUnavailable,
                     [this](const QByteArray& diagnostic) { m_unavailable.append(diagnostic); });
    QObject::connect(
        m_writer.get(), &CallRecordWriter::RecordRejected,
        [this](const QByteArray& line, const QByteArray&) { m_rejected.append(line); });
    m_writer->Start();
  }

  void Append(const CallRecord& record) {
    ASSERT_EQ(m_spool->Append(record), CallRecordSpool::AppendResult::Appended);
    ASSERT_EQ(m_spool->Sync(), 0);
    m_sent.append(RowOf(record));
  }
  bool WaitUntilWritten() {
    return WaitUntil([this] { return m_spool->Waiting() == 0; }, kLandWaitMs);
  }
  QTemporaryDir m_dir;
  std::shared_ptr<CallRecordSpool> m_spool;
  std::shared_ptr<CallRecordRejectFile> m_rejects;
  std::unique_ptr<CallRecordWriter> m_writer;
  QList<qint64> m_behind;
  int m_caughtUp = 0;
  QList<QByteArray> m_unavailable;
  QList<QByteArray> m_rejected;
  QList<CallRow> m_sent;
};

TEST_F(CallRecordWriterTest, RecordsLeftByTheLastRunAreWrittenFirstThenTheNewOnes) {
  for (int n = 0; n < 5; ++n) Append(Record(n));
  m_spool.reset();  // the relay ended before the writer took them
  OpenSpool();
  StartWriter();
  for (int n = 5; n < 40; ++n) Append(Record(n));
  ASSERT_TRUE(WaitUntilWritten());
  EXPECT_EQ(Rows(), m_sent);
  EXPECT_EQ(QFile(m_spool->SpoolPath()).size(), 0);
  EXPECT_EQ(m_behind.size(), 0);
}

TEST_F(CallRecordWriterTest, ServerStoppedAndStartedAgainCostsNoRecordAndWritesNoneTwice) {
  StartWriter();
  for (int n = 0; n < 3; ++n) Append(Record(n));
  ASSERT_TRUE(WaitUntilWritten());
  ASSERT_TRUE(s_cluster->Stop());
  for (int n = 3; n < 13; ++n) Append(Record(n));
  // Recording has fallen behind, and says so once, naming what waits.
  ASSERT_TRUE(WaitUntil([this] { return m_behind.size() > 0; }, kLandWaitMs));
  EXPECT_EQ(m_behind.first(), 10);
  ASSERT_FALSE(m_unavailable.isEmpty());
  EXPECT_TRUE(m_unavailable.last().startsWith("08")) << m_unavailable.last().toStdString();
  ASSERT_TRUE(s_cluster->Start());
  ASSERT_TRUE(WaitUntilWritten());
  ASSERT_TRUE(WaitUntil([this] { return m_caughtUp > 0; }, kLandWaitMs));
  EXPECT_EQ(m_behind.size(), 1);
  EXPECT_EQ(m_caughtUp, 1);
  EXPECT_EQ(Rows(), m_sent);
  EXPECT_EQ(m_rejected.size(), 0);
}

// A frozen server holds the writer, never the thread that appends: its timer
// keeps ticking and the records wait in the spool until the server thaws.
TEST_F(CallRecordWriterTest, FrozenServerHoldsOnlyTheWriterAndLosesNothing) {
  StartWriter();
  Append(Record(0));
  ASSERT_TRUE(WaitUntilWritten());
  ASSERT_TRUE(s_cluster->Freeze());
  QElapsedTimer clock;
  clock.start();
  qint64 lastTick = 0, longestGap = 0;
  int appended = 1;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longestGap = std::max(longestGap, clock.elapsed() - lastTick);
    lastTick = clock.elapsed();
    if (appended < 40) Append(Record(appended++));
  });
  ticker.start(50);
  WaitUntil([] { return false; }, 4000);
  ticker.stop();
  EXPECT_EQ(appended, 40);
  // The freeze lasted 4 s; a loop held by it would show a gap that long.
  EXPECT_LT(longestGap, 2000);
  EXPECT_GT(m_spool->Waiting(), 0);
  ASSERT_TRUE(s_cluster->Thaw());
  ASSERT_TRUE(WaitUntilWritten());
  EXPECT_EQ(Rows(), m_sent);
}

// The server answers new connections but one connection hangs, as when a
// firewall drops it silently: the writer gives that connection up, writes
// on a new one, and the record it left is written once.
TEST_F(CallRecordWriterTest, HungConnectionIsGivenUpAndItsRecordWrittenOnceOnANewOne) {
  StartWriter();
  Append(Record(0));
  ASSERT_TRUE(WaitUntilWritten());
  const std::optional<QByteArray> backends = s_cluster->Execute(
      QStringLiteral("SELECT pid FROM pg_stat_activity WHERE usename = 'tarvex_cid' AND pid <> "
                     "pg_backend_pid()"));
  ASSERT_TRUE(backends);
  const QList<QByteArray> pids = backends->trimmed().split('\x1e');
  ASSERT_EQ(pids.size(), 1) << backends->toStdString();
  const pid_t backend = pid_t(pids.first().toInt());
  ASSERT_EQ(::kill(backend, SIGSTOP), 0);
  for (int n = 1; n < 10; ++n) Append(Record(n));
  const bool written = WaitUntilWritten();
  ::kill(backend, SIGCONT);
  ASSERT_TRUE(written);
  EXPECT_TRUE(m_unavailable.contains("HYT00 no answer from the database in time"));
  // The connection given up on gets its answer now and must not commit.
  WaitUntil([] { return false; }, 1000);
  EXPECT_EQ(Rows(), m_sent);
}

struct RefusalCase {
  const char* name;
  QByteArray caller;
  QByteArray state;
};

// A record the database refuses for its values goes to the reject file with
// the activity line and the reason, and the records behind it are written.
TEST_F(CallRecordWriterTest, RefusedRecordIsSetAsideAndTheNextOnesAreWritten) {
  ASSERT_TRUE(s_cluster->Execute(QStringLiteral(
      "CREATE OR REPLACE FUNCTION cid_CallInWrite(p_center_id integer, p_caller text, "
      "p_in_exten text, p_account_ext text) RETURNS void LANGUAGE plpgsql AS $$ BEGIN "
      "IF p_caller = 'refuse me' THEN RAISE EXCEPTION 'refused'; END IF; "
      "INSERT INTO calls (center_id, caller, in_exten, account_ext) "
      "VALUES (p_center_id, p_caller, p_in_exten, p_account_ext); END $$;")));
  const RefusalCase cases[] = {
      {"procedure raises", "refuse me", "P0001"},
      {"not CP949",
       "010\xff\xff"
       "1234",
       "22P05"},
  };
  StartWriter();
  int n = 0;
  for (const RefusalCase& c : cases) {
    Append(Record(n++));
    ASSERT_EQ(m_spool->Append(Record(n++, c.caller)), CallRecordSpool::AppendResult::Appended);
    Append(Record(n++));
  }
  ASSERT_TRUE(WaitUntilWritten());
  ASSERT_TRUE(WaitUntil([&] { return m_rejected.size() == std::ssize(cases); }, kLandWaitMs));
  EXPECT_EQ(Rows(), m_sent);
  QFile rejects(m_rejects->Path());
  ASSERT_TRUE(rejects.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = rejects.readAll().split('\n');
  ASSERT_EQ(lines.size(), std::ssize(cases) + 1);
  for (qsizetype i = 0; i < std::ssize(cases); ++i) {
    const CallRecord record = Record(int(3 * i + 1), cases[i].caller);
    EXPECT_EQ(m_rejected.at(i), RecordFailureLine(record)) << cases[i].name;
    EXPECT_TRUE(lines[i].contains(" (" + cases[i].state + ' ')) << lines[i].toStdString();
    EXPECT_TRUE(lines[i].contains(FromCp949(RecordFailureLine(record).first(20)).toUtf8()))
        << lines[i].toStdString();
  }
  ASSERT_TRUE(s_cluster->Execute(QString::fromUtf8([] {
    QFile sql(QStringLiteral(TARVEX_SOURCE_DIR "/db/sql/cid_callinwrite_postgres.sql"));
    return sql.open(QIODevice::ReadOnly) ? sql.readAll() : QByteArray();
  }())));
}

// At exit a writer held by a frozen server is left behind within the time
// given; when the answer comes it commits nothing, and the record waits in
// the spool for the next start, which writes it once.
TEST_F(CallRecordWriterTest, FinishLeavesAWriterHeldByAFrozenServerAndItsRecordWaits) {
  StartWriter();
  Append(Record(0));
  ASSERT_TRUE(WaitUntilWritten());
  ASSERT_TRUE(s_cluster->Freeze());
  Append(Record(1));
  WaitUntil([] { return false; }, 300);
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(m_writer->Finish(std::chrono::milliseconds(500)));
  EXPECT_LT(clock.elapsed(), 10000);
  m_writer.reset();
  ASSERT_TRUE(s_cluster->Thaw());
  WaitUntil([] { return false; }, 1000);
  EXPECT_EQ(m_spool->Waiting(), 1);
  EXPECT_EQ(Rows(), m_sent.first(1));
  StartWriter();
  ASSERT_TRUE(WaitUntilWritten());
  EXPECT_EQ(Rows(), m_sent);
}

}  // namespace
