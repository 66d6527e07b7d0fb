#pragma once

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QSet>
#include <csignal>
#include <functional>
#include <map>
#include <memory>

#include "e2e/relayunderfault.h"
#include "support/postgrescluster.h"

// The relay under a fault, on a PostgreSQL cluster shared by the suite.
class FaultTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Under AddressSanitizer freed memory waits in a quarantine of 256 MiB,
    // which would read as growth: the relays started here get a small one.
    // A build without the sanitizer ignores the variable.
    savedAsanOptions = qgetenv("ASAN_OPTIONS");
    qputenv("ASAN_OPTIONS",
            savedAsanOptions + (savedAsanOptions.isEmpty() ? "" : ":") + "quarantine_size_mb=8");
    cluster = new PostgresCluster;
    ASSERT_TRUE(cluster->Start()) << cluster->LastError().toStdString();
  }
  static void TearDownTestSuite() {
    delete cluster;
    cluster = nullptr;
    qputenv("ASAN_OPTIONS", savedAsanOptions);
  }
  void SetUp() override {
    ASSERT_TRUE(cluster->ClearCalls()) << cluster->LastError().toStdString();
    fixture = std::make_unique<RelayUnderFault>(cluster->ConnectionString(), descriptorLimit,
                                                accountCount, adjustRelay);
    fixture->extraSettings = extraSettings;
    ASSERT_TRUE(fixture->Start());
  }
  // After all it went through, the relay is still up and still ends as it
  // should (log file closed, clients let go); under LeakSanitizer, memory
  // lost on the way fails its exit code.
  void TearDown() override {
    if (!fixture || !fixture->relay) return;
    RelayProcess& relay = *fixture->relay;
    ASSERT_TRUE(relay.IsRunning()) << relay.StandardError().right(4000).toStdString();
    relay.Signal(SIGTERM);
    ASSERT_TRUE(relay.WaitFinished());
    EXPECT_EQ(relay.ExitStatus(), QProcess::NormalExit);
    EXPECT_EQ(relay.ExitCode(), 0) << relay.StandardError().right(4000).toStdString();
  }

  // How often each call sequence was recorded.
  static std::map<int, int> RecordedCounts() {
    std::map<int, int> recorded;
    const std::optional<QList<CallRow>> rows = cluster->Calls();
    EXPECT_TRUE(rows.has_value()) << cluster->LastError().toStdString();
    for (const CallRow& row : rows.value_or(QList<CallRow>())) ++recorded[SequenceOf(row.caller)];
    return recorded;
  }
  // Waits until calls 1 to last are all recorded (the writer retries at
  // most every 30 s), then checks each was recorded once, or at most twice.
  static void ExpectEveryCallRecorded(int last, int mostTimes) {
    std::map<int, int> recorded;
    QElapsedTimer sinceAsked;
    WaitUntil(
        [&] {
          // The database is asked twice a second, not on every pass.
          if (sinceAsked.isValid() && sinceAsked.elapsed() < 500) return false;
          sinceAsked.start();
          recorded = RecordedCounts();
          for (int s = 1; s <= last; ++s) {
            if (recorded[s] == 0) return false;
          }
          return true;
        },
        120000);
    for (int s = 1; s <= last; ++s) {
      EXPECT_GE(recorded[s], 1) << s;
      EXPECT_LE(recorded[s], mostTimes) << s;
    }
    EXPECT_EQ(recorded.count(-1), 0u) << "rows of calls never made";
  }

  // Sequences of the recorded calls.
  static QSet<int> RecordedSequences() {
    QSet<int> sequences;
    const std::optional<QList<CallRow>> rows = cluster->Calls();
    EXPECT_TRUE(rows.has_value()) << cluster->LastError().toStdString();
    for (const CallRow& row : rows.value_or(QList<CallRow>())) {
      sequences.insert(SequenceOf(row.caller));
    }
    return sequences;
  }

  static inline PostgresCluster* cluster = nullptr;
  static inline QByteArray savedAsanOptions;
  int descriptorLimit = 0;  // 0: the relay's own
  int accountCount = 2;
  std::function<void(RelayProcess::Options&)> adjustRelay;
  // More settings: these tests' loopback clients stand for many hosts.
  QByteArray extraSettings = "CLIENTSPERHOST=0\nREGISTERWAIT=0\n";
  std::unique_ptr<RelayUnderFault> fixture;
};
