#include "support/clustertest.h"

#include "support/qtprint.h"

PostgresCluster* ClusterTest::cluster = nullptr;

void ClusterTest::SetUpTestSuite() {
  cluster = new PostgresCluster;
  ASSERT_TRUE(cluster->Start()) << cluster->LastError();
}

void ClusterTest::TearDownTestSuite() {
  delete cluster;
  cluster = nullptr;
}
