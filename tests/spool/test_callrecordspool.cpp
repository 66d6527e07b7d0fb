#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <random>
#include <stop_token>
#include <thread>

#include "core/db/callrecord.h"
#include "core/db/callrecordspool.h"
#include "core/outbox/crc32.h"
#include "core/outbox/outbox.h"
#include "core/outbox/spoolframe.h"

namespace {

CallRecord Record(int n, QByteArray caller = {}) {
  if (caller.isEmpty()) caller = QByteArray::number(1012340000LL + n).prepend('0');
  return {7, caller, QByteArray::number(1000 + n), QByteArray::number(300 + n % 60),
          1700000000000LL + n};
}

// The oldest waiting record, which the test knows is there.
CallRecordSpool::WaitingRecord First(CallRecordSpool& spool) {
  EXPECT_GT(spool.Waiting(), 0);
  return spool.WaitForFirst(std::stop_token()).value_or(CallRecordSpool::WaitingRecord{});
}

// Syncs what was appended, then takes every waiting record the way the
// writer does, acknowledging each.
QList<CallRecord> Drain(CallRecordSpool& spool) {
  EXPECT_EQ(spool.Sync(), 0);
  QList<CallRecord> records;
  while (spool.Waiting() > 0) {
    const CallRecordSpool::WaitingRecord first = First(spool);
    records.append(first.record);
    EXPECT_TRUE(spool.Acknowledge(first.sequence));
  }
  return records;
}

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

TEST(CallRecordCodec, RoundTripsAnyValuesAndRefusesEveryOtherLength) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);  // the check value of CRC-32
  const CallRecord records[] = {
      Record(1),
      {0, {}, {}, {}, 0},
      {-2147483647 - 1, QByteArray("0'1\0\n\xff", 6), "\xb0\xa1", "0", -1},
      {2147483647, QByteArray(5000, '9'), "12'4", QByteArray(300, '\0'), 253402300799999LL},
  };
  for (const CallRecord& record : records) {
    const QByteArray encoded = EncodeCallRecord(record);
    EXPECT_EQ(DecodeCallRecord(encoded), record) << record.caller.toHex().constData();
    for (qsizetype cut = 0; cut < encoded.size(); ++cut) {
      EXPECT_FALSE(DecodeCallRecord(encoded.first(cut))) << cut;
    }
    EXPECT_FALSE(DecodeCallRecord(encoded + '\0'));
  }
}

class CallRecordSpoolTest : public testing::Test {
 protected:
  std::unique_ptr<CallRecordSpool> OpenSpool(CallRecordSpool::Limits limits = {}) {
    auto spool = std::make_unique<CallRecordSpool>(m_dir.path() + "/state", limits);
    EXPECT_TRUE(spool->Open()) << spool->ErrorString().toStdString();
    return spool;
  }
  QString SpoolPath() const { return m_dir.path() + "/state/callrecords.spool"; }
  QString AckPath() const { return m_dir.path() + "/state/callrecords.ack"; }

  QTemporaryDir m_dir;
};

TEST_F(CallRecordSpoolTest, WhatWasNotAcknowledgedWaitsAgainAfterReopening) {
  {
    std::unique_ptr<CallRecordSpool> spool = OpenSpool();
    for (int n = 0; n < 5; ++n) {
      ASSERT_EQ(spool->Append(Record(n)), CallRecordSpool::AppendResult::Appended);
    }
    // Held while open: no other process writes the same files.
    EXPECT_FALSE(CallRecordSpool(m_dir.path() + "/state").Open());
    ASSERT_EQ(spool->Sync(), 0);
    for (int n = 0; n < 2; ++n) {
      const CallRecordSpool::WaitingRecord first = First(*spool);
      EXPECT_EQ(first.record, Record(n));
      EXPECT_FALSE(spool->Acknowledge(first.sequence + 1));  // only the oldest can be
      EXPECT_TRUE(spool->Acknowledge(first.sequence));
    }
    EXPECT_EQ(spool->Waiting(), 3);
  }
  std::unique_ptr<CallRecordSpool> spool = OpenSpool();
  EXPECT_TRUE(spool->TakeUnreadable().isEmpty());
  EXPECT_EQ(spool->Waiting(), 3);
  ASSERT_EQ(spool->Append(Record(5)), CallRecordSpool::AppendResult::Appended);
  EXPECT_EQ(Drain(*spool), (QList<CallRecord>{Record(2), Record(3), Record(4), Record(5)}));
  // Everything acknowledged: the file is emptied, and stays so at the next start.
  EXPECT_EQ(QFile(SpoolPath()).size(), 0);
  spool.reset();
  spool = OpenSpool();
  EXPECT_EQ(spool->Waiting(), 0);
  ASSERT_EQ(spool->Append(Record(6)), CallRecordSpool::AppendResult::Appended);
  EXPECT_EQ(Drain(*spool), QList<CallRecord>{Record(6)});
}

// A crash can cut the file anywhere; whatever was whole before the cut is
// replayed, the torn rest never is, and the file is clean for what follows.
TEST_F(CallRecordSpoolTest, FileCutAtAnyByteReplaysTheWholeRecordsBeforeTheCut) {
  QList<CallRecord> records;
  QList<qsizetype> frameEnds;
  {
    std::unique_ptr<CallRecordSpool> spool = OpenSpool();
    for (int n = 0; n < 6; ++n) {
      records.append(Record(n, n == 3 ? QByteArray("TVXR") + QByteArray(40, 'x') : QByteArray()));
      ASSERT_EQ(spool->Append(records.last()), CallRecordSpool::AppendResult::Appended);
      frameEnds.append(QFile(SpoolPath()).size());
    }
  }
  const QByteArray full = FileBytes(SpoolPath());
  for (qsizetype cut = 0; cut <= full.size(); ++cut) {
    WriteFile(SpoolPath(), full.first(cut));
    QFile::remove(AckPath());
    const qsizetype whole = std::count_if(frameEnds.begin(), frameEnds.end(),
                                          [cut](qsizetype end) { return end <= cut; });
    const qsizetype kept = whole == 0 ? 0 : frameEnds[whole - 1];
    std::unique_ptr<CallRecordSpool> spool = OpenSpool();
    EXPECT_EQ(spool->TakeUnreadable().size(), cut == kept ? 0 : 1) << "cut at " << cut;
    EXPECT_EQ(QFile(SpoolPath()).size(), kept) << "cut at " << cut;
    ASSERT_EQ(spool->Append(Record(99)), CallRecordSpool::AppendResult::Appended);
    spool.reset();
    spool = OpenSpool();
    EXPECT_EQ(Drain(*spool), records.first(whole) + QList<CallRecord>{Record(99)})
        << "cut at " << cut;
  }
}

// Damage inside the file costs the one record it hit, which is set aside to
// be reported, and no other.
TEST_F(CallRecordSpoolTest, DamagedByteLosesOnlyItsOwnRecordAndIsReportedOnce) {
  QList<CallRecord> records;
  QList<qsizetype> frameEnds;
  {
    std::unique_ptr<CallRecordSpool> spool = OpenSpool();
    for (int n = 0; n < 4; ++n) {
      records.append(Record(n));
      ASSERT_EQ(spool->Append(records.last()), CallRecordSpool::AppendResult::Appended);
      frameEnds.append(QFile(SpoolPath()).size());
    }
  }
  const QByteArray full = FileBytes(SpoolPath());
  std::mt19937 random(14);
  for (qsizetype at = 0; at < full.size(); ++at) {
    QByteArray damaged = full;
    damaged[at] = char(damaged[at] ^ (1 << (random() % 8)));
    WriteFile(SpoolPath(), damaged);
    QFile::remove(AckPath());
    const qsizetype hit = std::count_if(frameEnds.begin(), frameEnds.end(),
                                        [at](qsizetype end) { return end <= at; });
    QList<CallRecord> expected = records;
    expected.removeAt(hit);
    std::unique_ptr<CallRecordSpool> spool = OpenSpool();
    const QList<QByteArray> unreadable = spool->TakeUnreadable();
    ASSERT_EQ(unreadable.size(), 1) << "damage at " << at;
    EXPECT_EQ(unreadable.first().size(), frameEnds[hit] - (hit == 0 ? 0 : frameEnds[hit - 1]));
    spool.reset();
    spool = OpenSpool();
    EXPECT_TRUE(spool->TakeUnreadable().isEmpty()) << "damage at " << at;
    EXPECT_EQ(Drain(*spool), expected) << "damage at " << at;
  }
}

// The acknowledgement is kept in two slots written in turn; a torn or lost
// one falls back to the other, and with neither everything is written again
// rather than lost.
TEST_F(CallRecordSpoolTest, DamagedAcknowledgementFallsBackWithoutLosingRecords) {
  struct AckCase {
    const char* name;
    std::function<void(QByteArray&)> damage;
    int firstReplayed;
  };
  const AckCase cases[] = {
      {"intact", [](QByteArray&) {}, 3},
      {"newer slot torn", [](QByteArray& ack) { ack[8] = char(ack[8] ^ 1); }, 2},
      {"older slot torn", [](QByteArray& ack) { ack[16 + 8] = char(ack[16 + 8] ^ 1); }, 3},
      {"both torn", [](QByteArray& ack) { ack.fill('\xff'); }, 0},
      {"file empty", [](QByteArray& ack) { ack.clear(); }, 0},
  };
  for (const AckCase& c : cases) {
    QFile::remove(SpoolPath());
    QFile::remove(AckPath());
    std::unique_ptr<CallRecordSpool> spool = OpenSpool();
    for (int n = 0; n < 5; ++n) spool->Append(Record(n));
    spool->Sync();
    for (int n = 0; n < 3; ++n) spool->Acknowledge(First(*spool).sequence);
    spool.reset();
    // Acknowledgements 1 and 3 went to the first slot, 2 to the second.
    QByteArray ack = FileBytes(AckPath());
    c.damage(ack);
    WriteFile(AckPath(), ack);
    spool = OpenSpool();
    QList<CallRecord> expected;
    for (int n = c.firstReplayed; n < 5; ++n) expected.append(Record(n));
    EXPECT_EQ(Drain(*spool), expected) << c.name;
  }
}

TEST_F(CallRecordSpoolTest, FullSpoolTakesMoreOnlyAfterRecordsLeaveIt) {
  const qsizetype frame = kSpoolFrameHeaderSize + EncodeCallRecord(Record(0)).size();
  std::unique_ptr<CallRecordSpool> spool = OpenSpool({3 * frame, 1 << 20, 64 << 10});
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(spool->Append(Record(n)), CallRecordSpool::AppendResult::Appended);
  }
  EXPECT_EQ(spool->Append(Record(3)), CallRecordSpool::AppendResult::Full);
  EXPECT_EQ(spool->Append(Record(4, QByteArray(kMaxSpoolPayloadSize, '1'))),
            CallRecordSpool::AppendResult::TooLarge);
  spool->Sync();
  spool->Acknowledge(First(*spool).sequence);
  EXPECT_EQ(spool->Append(Record(5)), CallRecordSpool::AppendResult::Appended);
  EXPECT_EQ(Drain(*spool), (QList<CallRecord>{Record(1), Record(2), Record(5)}));
}

// Under steady load the spool is never quite empty; the written front must
// still be cut off now and then, and nothing waiting may be lost doing so.
TEST_F(CallRecordSpoolTest, WrittenFrontIsCutOffWhileRecordsKeepArriving) {
  const qsizetype frame = kSpoolFrameHeaderSize + EncodeCallRecord(Record(0)).size();
  std::unique_ptr<CallRecordSpool> spool = OpenSpool({1 << 20, 10 * frame, 4 * frame});
  QList<CallRecord> expected = {Record(-2), Record(-1)};
  for (const CallRecord& record : expected) spool->Append(record);
  QList<CallRecord> taken;
  qint64 largest = 0;
  for (int n = 0; n < 200; ++n) {
    expected << Record(n) << Record(1000 + n);
    ASSERT_EQ(spool->Append(Record(n)), CallRecordSpool::AppendResult::Appended);
    ASSERT_EQ(spool->Append(Record(1000 + n)), CallRecordSpool::AppendResult::Appended);
    spool->Sync();
    largest = std::max(largest, QFile(SpoolPath()).size());
    for (int k = 0; k < 2; ++k) {
      const CallRecordSpool::WaitingRecord first = First(*spool);
      taken.append(first.record);
      spool->Acknowledge(first.sequence);
    }
  }
  EXPECT_EQ(spool->Waiting(), 2);
  EXPECT_LE(largest, (10 + 4 + 2) * frame);
  spool.reset();
  spool = OpenSpool();
  taken += Drain(*spool);
  EXPECT_EQ(taken, expected);
}

// The event loop appends and syncs a few at a time while the writer thread
// takes: no record is taken before it is synced, and every record comes out
// once, in order.
TEST_F(CallRecordSpoolTest, AppendingAndTakingOnTwoThreadsKeepsEveryRecordInOrder) {
  std::unique_ptr<CallRecordSpool> spool = OpenSpool();
  constexpr int kCount = 500;
  std::atomic<int> synced = 0;
  QList<CallRecord> taken;
  std::jthread taker([&](std::stop_token stop) {
    while (taken.size() < kCount) {
      const auto first = spool->WaitForFirst(stop);
      if (!first) return;
      EXPECT_LT(taken.size(), synced.load());
      taken.append(first->record);
      spool->Acknowledge(first->sequence);
    }
  });
  for (int n = 0; n < kCount; ++n) {
    ASSERT_EQ(spool->Append(Record(n)), CallRecordSpool::AppendResult::Appended);
    if (n % 7 == 6 || n == kCount - 1) {
      synced = n + 1;
      ASSERT_EQ(spool->Sync(), 0);
    }
  }
  taker.join();
  ASSERT_EQ(taken.size(), kCount);
  for (int n = 0; n < kCount; ++n) EXPECT_EQ(taken[n], Record(n));
  EXPECT_EQ(spool->Waiting(), 0);
}

// A consumer that takes many records at once acknowledges them together:
// only what it can have been handed goes, and what stays waits again after
// a restart.
TEST_F(CallRecordSpoolTest, AcknowledgingThroughASequenceTakesEverySyncedRecordUpToIt) {
  struct Case {
    const char* name;
    int acknowledgedFirst;  // one by one, before
    quint64 through;
    qint64 taken;
    quint64 firstLeft;
  };
  // Records 1 to 4 synced, 5 and 6 appended after the sync.
  const Case cases[] = {
      {"up to the middle", 0, 2, 2, 3},    {"to the last synced", 0, 4, 4, 5},
      {"past the synced", 0, 99, 4, 5},    {"behind the front", 2, 1, 0, 3},
      {"after acknowledging", 1, 3, 2, 4}, {"nothing handed out", 4, 6, 0, 5},
  };
  for (const Case& c : cases) {
    const QString directory = m_dir.filePath(QString::fromLatin1(c.name));
    auto outbox = std::make_unique<Outbox>(directory, QStringLiteral("events"), Outbox::Limits{});
    ASSERT_TRUE(outbox->Open());
    for (int n = 1; n <= 6; ++n) {
      ASSERT_EQ(outbox->Append(QByteArray::number(n)), Outbox::AppendResult::Appended);
      if (n == 4) outbox->Sync();
    }
    for (quint64 n = 1; n <= quint64(c.acknowledgedFirst); ++n) outbox->Acknowledge(n);
    EXPECT_EQ(outbox->AcknowledgeThrough(c.through), c.taken) << c.name;
    outbox = std::make_unique<Outbox>(directory, QStringLiteral("events"), Outbox::Limits{});
    ASSERT_TRUE(outbox->Open());
    EXPECT_EQ(outbox->FirstAfter(0)->sequence, c.firstLeft) << c.name;
    EXPECT_EQ(outbox->Waiting(), qint64(7 - c.firstLeft)) << c.name;
  }
}

TEST(CallRecordSpoolOpen, UnwritableDirectoryIsReported) {
  CallRecordSpool spool(QStringLiteral("/proc/tarvex-no-such-dir"));
  EXPECT_FALSE(spool.Open());
  EXPECT_FALSE(spool.ErrorString().isEmpty());
  EXPECT_EQ(spool.Append(Record(0)), CallRecordSpool::AppendResult::Failed);
}

}  // namespace
