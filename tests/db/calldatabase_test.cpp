#include <gtest/gtest.h>

#include <QTcpServer>
#include <memory>

#include "core/db/calldatabase.h"
#include "core/text/cp949.h"
#include "support/postgrestest.h"

namespace {

// A loopback port that nothing listens on.
quint16 ClosedPort() {
  QTcpServer server;
  server.listen(QHostAddress::LocalHost);
  return server.serverPort();
}

using CallDatabaseTest = PostgresTest;

TEST_F(CallDatabaseTest, RecordsOneRowWithTheFourValues) {
  CallDatabase db(s_cluster->ConnectionString());
  ASSERT_TRUE(db.ConnectDB());
  EXPECT_TRUE(db.CallInWrite(17, "01012345678", "1234", "5678"));
  EXPECT_EQ(Rows(), (QList<CallRow>{{17, "01012345678", "1234", "5678"}}));
}

TEST_F(CallDatabaseTest, ValuesThatLookLikeSqlAreStoredAsText) {
  const QList<CallRow> calls = {
      {1, "010'1234", "12'4", "'"},
      {2, "1'); DROP TABLE calls; --", "1234", "5678"},
      {3, "a\\'b", "{fn x}", "?"},
      {4,
       "\xb0\xa1\xb3\xaa"
       "0212345678",
       "\xc7\xa5", "100"},
  };
  CallDatabase db(s_cluster->ConnectionString());
  ASSERT_TRUE(db.ConnectDB());
  for (const CallRow& call : calls) {
    EXPECT_TRUE(db.CallInWrite(call.centerId, call.caller, call.inExten, call.accountExt))
        << call.caller.toStdString();
  }
  EXPECT_EQ(Rows(), calls);
}

TEST_F(CallDatabaseTest, ConnectionLostToARestartIsRenewedWithoutLosingTheCall) {
  CallDatabase db(s_cluster->ConnectionString());
  ASSERT_TRUE(db.ConnectDB());
  EXPECT_TRUE(db.CallInWrite(1, "01011111111", "1111", "1"));
  ASSERT_TRUE(s_cluster->Stop()) << s_cluster->LastError().toStdString();
  ASSERT_TRUE(s_cluster->Start()) << s_cluster->LastError().toStdString();
  EXPECT_TRUE(db.CallInWrite(1, "01022222222", "2222", "2"));
  EXPECT_EQ(Rows(),
            (QList<CallRow>{{1, "01011111111", "1111", "1"}, {1, "01022222222", "2222", "2"}}));
}

TEST_F(CallDatabaseTest, CallsWhileTheServerIsDownAreLostAndTheFirstOneAfterIsRecorded) {
  CallDatabase db(s_cluster->ConnectionString());
  ASSERT_TRUE(db.ConnectDB());
  ASSERT_TRUE(s_cluster->Stop()) << s_cluster->LastError().toStdString();
  EXPECT_FALSE(db.CallInWrite(1, "01011111111", "1111", "1"));
  // The failed reconnect leaves the handles half-allocated; the next write starts over.
  EXPECT_FALSE(db.CallInWrite(1, "01022222222", "2222", "2"));
  ASSERT_TRUE(s_cluster->Start()) << s_cluster->LastError().toStdString();
  EXPECT_TRUE(db.CallInWrite(1, "01033333333", "3333", "3"));
  EXPECT_EQ(Rows(), (QList<CallRow>{{1, "01033333333", "3333", "3"}}));
}

TEST_F(CallDatabaseTest, FailingProcedureIsNotRecordedAndKeepsTheConnectionUsable) {
  // The login's default database exists but lacks the procedure.
  std::string connection = s_cluster->ConnectionString();
  const std::size_t database = connection.find("DATABASE=");
  connection.replace(database, connection.find(';', database) - database, "DATABASE=postgres");
  CallDatabase db(connection);
  ASSERT_TRUE(db.ConnectDB());
  EXPECT_FALSE(db.CallInWrite(1, "01011111111", "1111", "1"));
  EXPECT_TRUE(db.IsAllocated());
  EXPECT_TRUE(Rows().isEmpty());
}

TEST_F(CallDatabaseTest, DisconnectIsHarmlessInAnyStateAndConnectWorksAgainAfterIt) {
  CallDatabase db(s_cluster->ConnectionString());
  db.DisconnectDB();
  EXPECT_FALSE(db.IsAllocated());
  ASSERT_TRUE(db.ConnectDB());
  EXPECT_TRUE(db.IsAllocated());
  db.DisconnectDB();
  db.DisconnectDB();
  EXPECT_FALSE(db.IsAllocated());
  ASSERT_TRUE(db.ConnectDB());
  EXPECT_TRUE(db.CallInWrite(2, "01044444444", "4444", "4"));
  EXPECT_EQ(Rows().size(), 1);
}

// A procedure that reports no row count ends its call with SQL_NO_DATA: the
// row is there, so neither a failure line nor a reconnect may follow.
TEST(CallDatabaseResult, NoDataCountsAsWrittenLikeSuccess) {
  const struct {
    SQLRETURN result;
    bool written;
  } cases[] = {
      {SQL_SUCCESS, true},    {SQL_SUCCESS_WITH_INFO, true}, {SQL_NO_DATA, true},
      {SQL_ERROR, false},     {SQL_INVALID_HANDLE, false},   {SQL_STILL_EXECUTING, false},
      {SQL_NEED_DATA, false},
  };
  for (const auto& c : cases) EXPECT_EQ(CallWasWritten(c.result), c.written) << c.result;
}

struct FailedConnectCase {
  const char* name;
  std::string connectionString;
  QByteArray state;
};

TEST(CallDatabaseConnect, FailedConnectReportsFormattedDiagnosticsAndLeavesHandlesToFree) {
  const QByteArray label = ToCp949(QStringLiteral(", 진단정보1:"));
  const FailedConnectCase cases[] = {
      {"no such driver", "DRIVER={No Such Driver};SERVER=127.0.0.1,8033;", "01000"},
      {"nothing listening",
       "DRIVER={PostgreSQL ANSI};SERVER=127.0.0.1;PORT=" + std::to_string(ClosedPort()) +
           ";UID=x;PWD=y;DATABASE=z;",
       "08001"},
  };
  for (const FailedConnectCase& c : cases) {
    CallDatabase db(c.connectionString);
    QList<QByteArray> lines;
    db.SetDiagnosticSink([&lines](const QByteArray& line) { lines.append(line); });
    EXPECT_FALSE(db.ConnectDB()) << c.name;
    ASSERT_FALSE(lines.isEmpty()) << c.name;
    EXPECT_LE(lines.size(), 11) << c.name;
    EXPECT_TRUE(lines.first().startsWith("ConnectDB - SQLSTATE:" + c.state + ", NativeError:"))
        << c.name << ": " << lines.first().toStdString();
    for (const QByteArray& line : lines) {
      EXPECT_TRUE(line.startsWith("ConnectDB - SQLSTATE:")) << c.name;
      EXPECT_TRUE(line.contains(label)) << c.name;
      EXPECT_LT(line.size(), 1024) << c.name;
    }
    EXPECT_TRUE(db.IsAllocated()) << c.name;
    db.DisconnectDB();
    EXPECT_FALSE(db.IsAllocated()) << c.name;
  }
}

}  // namespace
