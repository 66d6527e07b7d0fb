#include "support/postgrestest.h"

std::unique_ptr<PostgresCluster> PostgresTest::s_cluster;
QString PostgresTest::s_startError;

void PostgresTest::SetUpTestSuite() {
  s_cluster = std::make_unique<PostgresCluster>();
  if (!s_cluster->Start()) s_startError = s_cluster->LastError();
}

void PostgresTest::TearDownTestSuite() { s_cluster.reset(); }

void PostgresTest::SetUp() {
  ASSERT_TRUE(s_startError.isEmpty()) << s_startError.toStdString();
  // A test that stopped or froze the server may have failed before letting it go.
  ASSERT_TRUE(s_cluster->Thaw()) << s_cluster->LastError().toStdString();
  ASSERT_TRUE(s_cluster->Start()) << s_cluster->LastError().toStdString();
  ASSERT_TRUE(s_cluster->ClearCalls()) << s_cluster->LastError().toStdString();
}

QList<CallRow> PostgresTest::Rows() {
  const std::optional<QList<CallRow>> rows = s_cluster->Calls();
  EXPECT_TRUE(rows) << s_cluster->LastError().toStdString();
  return rows.value_or(QList<CallRow>{});
}
