// The real relay and a real PostgreSQL that lacks the call procedure or
// refuses a call: the operator is told the database's own words once, the
// records wait or go to the reject file, and --requeue-rejected puts the
// rejected ones back.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <memory>

#include "support/postgrescluster.h"
#include "support/qtprint.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"
#include "tools/telsim/telephonyserver.h"

namespace {

const QString kAccountId = QStringLiteral("agent1");
const QString kRefusedCaller = QStringLiteral("01099999999");
const QString kProcedure =
    QStringLiteral(
        "CREATE OR REPLACE FUNCTION cid_CallInWrite(p_center_id integer, p_caller "
        "text, p_in_exten text, p_account_ext text) RETURNS void LANGUAGE plpgsql AS "
        "$$ BEGIN IF p_caller = '%1' THEN RAISE EXCEPTION 'caller refused'; END IF; "
        "INSERT INTO calls (center_id, caller, in_exten, account_ext) "
        "VALUES (p_center_id, p_caller, p_in_exten, p_account_ext); END $$;")
        .arg(kRefusedCaller);

class RecordingFailureTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cluster.Start()) << cluster.LastError();
    TelAccount account;
    account.id = kAccountId;
    account.password = QStringLiteral("secret1");
    account.number = QStringLiteral("07012345301");
    telsim.AddAccount(account);
    ASSERT_TRUE(telsim.Listen(0));
    options.odbc = cluster.ConnectionString();
    options.telPort = telsim.Port();
    options.configHome = dir.filePath(QStringLiteral("config"));
    options.stateDirectory = dir.filePath(QStringLiteral("state"));
    options.instance =
        QStringLiteral("recording-failure-%1").arg(QCoreApplication::applicationPid());
    options.journal = true;
    ASSERT_TRUE(QDir().mkpath(options.configHome + QStringLiteral("/MERVO")));
    QFile settings(options.configHome + QStringLiteral("/MERVO/Tarvex.conf"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(
        "[SETTING]\nUID1=agent1\nPWD1=secret1\nSERVERIP1=127.0.0.1\nSENDTYPE=2\nCENTERID=7\n");
  }
  void TearDown() override { StopRelay(); }

  void StartRelay() {
    relay = std::make_unique<RelayProcess>(options);
    ASSERT_TRUE(relay->Start());
    ASSERT_TRUE(relay->WaitForOutput(QStringLiteral("[0]agent1 - 로그인성공"))) << Journal();
  }
  void StopRelay() {
    if (!relay) return;
    relay->Signal(SIGTERM);
    EXPECT_TRUE(relay->WaitFinished());
    relay.reset();
  }
  QString Journal() { return relay->StandardError(); }

  // Tarvex --requeue-rejected on the relay's state directory: exit code and output.
  std::pair<int, QString> Requeue() {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TARVEX_INSTANCE"), options.instance);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARVEX_BINARY_DIR "/Tarvex"),
                  {QStringLiteral("--requeue-rejected"), QStringLiteral("--state-dir"),
                   options.stateDirectory});
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitCode(), QString::fromUtf8(process.readAll())};
  }
  int Recorded(const QString& caller) {
    const std::optional<QList<CallRow>> rows = cluster.Calls();
    return rows ? int(std::count_if(rows->begin(), rows->end(),
                                    [&](const CallRow& row) { return row.caller == caller; }))
                : -1;
  }
  void Ring(const QString& caller) {
    telsim.SendRing(kAccountId, caller, QStringLiteral("07077771234"), false);
  }

  PostgresCluster cluster;
  TelephonyServer telsim;
  QTemporaryDir dir;
  RelayProcess::Options options;
  std::unique_ptr<RelayProcess> relay;
};

TEST_F(RecordingFailureTest, MissingProcedureHoldsRecordsAndRefusedOneComesBackOnRequeue) {
  StartRelay();
  ASSERT_TRUE(cluster.Execute(QStringLiteral("DROP FUNCTION cid_CallInWrite")));
  QStringList callers;
  for (int n = 1; n <= 10; ++n) {
    callers << QStringLiteral("010%1").arg(n, 8, 10, QLatin1Char('0'));
    Ring(callers.last());
  }
  const QString held = QStringLiteral("DB 기록 오류: 42883 ");
  ASSERT_TRUE(relay->WaitForOutput(held, 60000)) << Journal();
  ASSERT_TRUE(cluster.Execute(kProcedure));
  const QString resumed = QStringLiteral("DB 기록 정상: 데이터베이스에 다시 기록합니다.");
  ASSERT_TRUE(relay->WaitForOutput(resumed, 60000)) << Journal();
  ASSERT_TRUE(WaitUntil([&] { return Recorded(callers.last()) == 1; }, 60000));
  for (const QString& caller : callers) EXPECT_EQ(Recorded(caller), 1) << caller;
  // One line in the activity list (mirrored at info), one error, each with
  // the database's words.
  EXPECT_EQ(Journal().count(QStringLiteral("<6>") + held), 1) << Journal();
  EXPECT_EQ(Journal().count(QStringLiteral("<3>") + held), 1) << Journal();
  EXPECT_TRUE(Journal().contains(QStringLiteral("does not exist"))) << Journal();
  EXPECT_EQ(Journal().count(resumed), 1) << Journal();
  EXPECT_EQ(Journal().count(QStringLiteral("DB 기록 실패")), 0) << Journal();

  // Refused for its content: reject file, told with the database's words.
  Ring(kRefusedCaller);
  ASSERT_TRUE(relay->WaitForOutput(QStringLiteral("<3>DB 기록 거부: P0001 "), 60000)) << Journal();
  EXPECT_TRUE(Journal().contains(QStringLiteral("caller refused"))) << Journal();
  EXPECT_EQ(Journal().count(QStringLiteral("DB 기록 실패: ") + kRefusedCaller), 1) << Journal();
  // Not while the relay runs on the same state.
  EXPECT_EQ(Requeue().first, 3);

  StopRelay();
  ASSERT_TRUE(cluster.Execute(QStringLiteral("DROP FUNCTION cid_CallInWrite; ") +
                              QString(kProcedure).replace(kRefusedCaller, QStringLiteral("none"))));
  const auto [firstExit, firstOutput] = Requeue();
  EXPECT_EQ(firstExit, 0) << firstOutput;
  EXPECT_TRUE(firstOutput.startsWith(QStringLiteral("1 "))) << firstOutput;
  const auto [secondExit, secondOutput] = Requeue();
  EXPECT_EQ(secondExit, 0) << secondOutput;
  EXPECT_TRUE(secondOutput.startsWith(QStringLiteral("0 "))) << secondOutput;
  StartRelay();
  ASSERT_TRUE(WaitUntil([&] { return Recorded(kRefusedCaller) == 1; }, 60000)) << Journal();
  StopRelay();
  EXPECT_EQ(Recorded(kRefusedCaller), 1);
}

}  // namespace
