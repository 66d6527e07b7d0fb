#pragma once

#include <gtest/gtest.h>

#include <QList>
#include <QString>
#include <memory>

#include "support/postgrescluster.h"

// A suite on a throw-away PostgreSQL of its own, started once. Each test
// begins with the server running, not frozen, and without rows.
class PostgresTest : public testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;

  // The rows of calls, in the order written.
  static QList<CallRow> Rows();

  static std::unique_ptr<PostgresCluster> s_cluster;
  static QString s_startError;
};
