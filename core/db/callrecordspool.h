#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>

#include "core/db/callrecord.h"

// The durable queue between a ringing call and the database: an append-only
// file of framed records and a separate acknowledgement of what the database
// has taken. One thread appends (the event loop) and syncs what it appended,
// many records at once; only synced records are handed to the other thread,
// which takes and acknowledges them (the writer). Whatever was not
// acknowledged when the relay stopped is waiting again after Open. One
// process at a time holds a state directory's spool.
class CallRecordSpool {
 public:
  struct Limits {
    qint64 maxWaitingBytes = 16 * 1024 * 1024;
    // The acknowledged front is cut off once it is this large and what
    // follows it is small enough to copy in a moment.
    qint64 compactFrontBytes = 1024 * 1024;
    qint64 compactTailBytes = 64 * 1024;
  };
  enum class AppendResult { Appended, Full, TooLarge, Failed };
  struct WaitingRecord {
    quint64 sequence = 0;
    std::optional<CallRecord> record;  // nullopt when its bytes no longer read back
    QByteArray bytes;                  // then: what was read instead
  };
  using Clock = std::chrono::steady_clock;

  explicit CallRecordSpool(QString directory, Limits limits);
  explicit CallRecordSpool(QString directory) : CallRecordSpool(std::move(directory), Limits{}) {}
  ~CallRecordSpool();
  CallRecordSpool(const CallRecordSpool&) = delete;
  CallRecordSpool& operator=(const CallRecordSpool&) = delete;

  // Creates the directory and files as needed and recovers what waits; a
  // torn or damaged stretch is cut out and kept for TakeUnreadable.
  bool Open();
  const QString& ErrorString() const { return m_error; }
  QList<QByteArray> TakeUnreadable();

  // Writes the record behind the others without syncing it; the writer
  // does not see it before the next Sync.
  AppendResult Append(const CallRecord& record);
  // Syncs what was appended since the last Sync and hands it to the writer.
  // On failure those records are cut off again and the count of them is
  // returned; ErrorString says why. 0 on success.
  qint64 Sync();
  // The oldest waiting record; blocks until there is one. Nothing once stop
  // is requested.
  std::optional<WaitingRecord> WaitForFirst(std::stop_token stop);
  // Marks the oldest waiting record written; false if sequence is not it.
  bool Acknowledge(quint64 sequence);

  qint64 Waiting() const;
  // When the oldest waiting record was appended (recovered ones: at Open).
  std::optional<Clock::time_point> OldestWaitingSince() const;

  QString SpoolPath() const;
  QString AcknowledgementPath() const;

 private:
  struct Entry {
    quint64 sequence;
    qint64 offset;
    qint64 size;
    Clock::time_point appendedAt;
  };

  bool ReadAcknowledged(quint64* sequence);
  bool WriteAcknowledged(quint64 sequence);
  bool ReplaceSpoolFile(const QByteArray& contents);
  void CompactLocked();
  // Cuts the file back to size, or gives it up when it cannot be cut.
  void CutOffLocked(qint64 size);
  WaitingRecord ReadLocked(const Entry& entry) const;
  bool Fail(const QString& what);

  const QString m_directory;
  const Limits m_limits;
  QString m_error;
  QList<QByteArray> m_unreadable;

  mutable std::mutex m_mutex;
  std::condition_variable_any m_recordWaiting;
  int m_spoolFd = -1;
  qint64 m_fileSize = 0;
  qint64 m_waitingBytes = 0;
  quint64 m_nextSequence = 1;
  // Appended and not yet acknowledged; only those up to m_syncedThrough are
  // for the writer.
  std::deque<Entry> m_waiting;
  quint64 m_syncedThrough = 0;

  // The acknowledgement alternates between two slots, so that a torn write
  // never loses the previous one.
  std::mutex m_ackMutex;
  int m_ackFd = -1;
  int m_nextAckSlot = 0;
};
