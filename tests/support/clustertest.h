#pragma once

#include <gtest/gtest.h>

#include "support/postgrescluster.h"

// A suite whose tests share one throw-away PostgreSQL cluster, started before
// the first test and removed after the last.
class ClusterTest : public testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  static PostgresCluster* cluster;
};
