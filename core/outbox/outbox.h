#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include <QByteArrayView>

// A durable queue of opaque records between the event loop and a consumer
// thread (the database writer, the event publisher): an append-only file of
// framed records and a separate acknowledgement of what the consumer has
// taken. One thread appends (the event loop) and syncs what it appended,
// many records at once; only synced records are handed to the consumer,
// which takes and acknowledges them. Whatever was not acknowledged when the
// relay stopped is waiting again after Open. Sequence numbers only grow,
// across restarts too, so that they can name a record outside the relay.
// One process at a time holds a directory (a lock on the directory); each
// outbox has a directory of its own.
//
// Every waiting record is also held in memory, and the consumer takes it
// from there: what happens to the file afterwards cannot change or lose it.
// When the disk refuses a record, or the file is removed, replaced or
// shortened behind the outbox's back, the records stay in memory and the
// file is written anew from them as soon as the disk takes it again.
class Outbox {
 public:
  struct Limits {
    qint64 maxWaitingBytes = 16 * 1024 * 1024;
    // The acknowledged front is cut off once it is this large and what
    // follows it is small enough to copy in a moment.
    qint64 compactFrontBytes = 1024 * 1024;
    qint64 compactTailBytes = 64 * 1024;
    // How often a file the disk refused is tried again.
    std::chrono::milliseconds diskRetryEvery{1000};
  };
  // Held: waiting, but in memory only, since the disk refused it.
  enum class AppendResult { Appended, Held, Full, TooLarge, Failed };
  // What someone else did to the open file.
  enum class FileChange { None, Removed, Replaced, Shortened };
  struct WaitingRecord {
    quint64 sequence = 0;
    QByteArray payload;
  };
  using Clock = std::chrono::steady_clock;
  // Whether a recovered payload is still one the consumer can take; the
  // others go to TakeUnreadable.
  using PayloadCheck = std::function<bool(QByteArrayView)>;

  // The files are <name>.spool and <name>.ack in directory.
  Outbox(QString directory, QString name, Limits limits, PayloadCheck readable = {});
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Creates the directory and files as needed and recovers what waits; a
  // torn or damaged stretch is cut out and kept for TakeUnreadable.
  bool Open();
  const QString& ErrorString() const { return m_error; }
  // After a failed Open: another process holds the state directory.
  bool HeldElsewhere() const { return m_heldElsewhere; }
  QList<QByteArray> TakeUnreadable();

  // Writes the record behind the others without syncing it; the consumer
  // does not see it before the next Sync.
  AppendResult Append(QByteArrayView payload);
  // The same, but the record is written to the file only by the next
  // WriteAppended, Sync or SyncInBackground, together with the others
  // appended so: one write for many records.
  AppendResult AppendUnwritten(QByteArrayView payload);
  // False while the disk refuses the file (the records wait in memory).
  bool WriteAppended();
  // Syncs what was appended since the last Sync and hands it to the consumer;
  // while records are held in memory, first tries to write the file anew
  // (at most every diskRetryEvery unless forced). Returns how many records
  // the disk did not take; DiskError says why.
  qint64 Sync(bool forceRetry = false);
  // What was appended so far is synced on a thread of the outbox's own and
  // then handed to the consumer, so that the event loop never waits for the
  // disk. onFailure runs on that thread when a sync fails, onSynced after
  // each sync, for a consumer that does not wait in WaitForFirst.
  void SyncInBackground(std::function<void()> onFailure, std::function<void()> onSynced = {});
  // The oldest waiting record; blocks until there is one. Nothing once stop
  // is requested.
  std::optional<WaitingRecord> WaitForFirst(std::stop_token stop);
  // The same for a consumer that takes several at once: the oldest records,
  // at most mostRecords and, past the first, at most mostBytes of payload.
  QList<WaitingRecord> WaitForOldest(std::stop_token stop, qsizetype mostRecords, qint64 mostBytes);
  // Without waiting: the oldest record for the consumer past the sequence.
  std::optional<WaitingRecord> FirstAfter(quint64 sequence) const;
  // Marks the oldest waiting record taken; false if sequence is not it.
  bool Acknowledge(quint64 sequence);
  // Marks every record handed to the consumer up to the sequence taken, with
  // one write of the acknowledgement; how many that was.
  qint64 AcknowledgeThrough(quint64 sequence);

  qint64 Waiting() const;
  // Waiting records that are not on disk.
  qint64 HeldInMemory() const;
  // Why the file does not hold every waiting record; empty when it does.
  QString DiskError() const;
  // The change to the file found since the last call, once.
  FileChange TakeFileChange();
  // When the oldest waiting record was appended (recovered ones: at Open).
  std::optional<Clock::time_point> OldestWaitingSince() const;

  QString SpoolPath() const;
  QString AcknowledgementPath() const;

 private:
  struct Entry {
    quint64 sequence;
    qint64 offset;  // in the file, when onDisk
    QByteArray frame;
    Clock::time_point appendedAt;
    bool onDisk;
  };

  AppendResult AppendLocked(QByteArrayView payload);
  bool WriteUnwrittenLocked();
  bool ReadAcknowledged(quint64* sequence);
  // With m_ackMutex held.
  qint64 AcknowledgeThroughHeld(quint64 sequence);
  bool WriteAcknowledged(quint64 sequence);
  bool ReplaceSpoolFile(const QByteArray& contents);
  void CompactLocked();
  // False, with the change noted, when the file is no longer what was written.
  bool CheckFileLocked();
  // The file can no longer be trusted to hold the records: they are kept in
  // memory until it is written anew.
  void DiskFailedLocked(const QString& what);
  // Writes every waiting record to a new file; false while the disk refuses.
  bool RewriteLocked();
  bool Fail(const QString& what);
  void SyncLoop(std::stop_token stop);

  const QString m_directory;
  const QString m_name;
  const Limits m_limits;
  const PayloadCheck m_readable;
  QString m_error;
  bool m_heldElsewhere = false;
  QList<QByteArray> m_unreadable;
  int m_directoryFd = -1;

  mutable std::mutex m_mutex;
  std::condition_variable_any m_recordWaiting;
  int m_spoolFd = -1;
  qint64 m_fileSize = 0;
  // False while some waiting record is not in the file, beside those of
  // m_unwritten.
  bool m_fileWhole = true;
  // The frames of the last waiting records, appended but not yet written.
  QByteArray m_unwritten;
  QString m_diskError;
  FileChange m_fileChange = FileChange::None;
  std::optional<Clock::time_point> m_lastRewriteTry;
  qint64 m_waitingBytes = 0;
  quint64 m_nextSequence = 1;
  // Appended and not yet acknowledged; only those up to m_syncedThrough are
  // for the consumer.
  std::deque<Entry> m_waiting;
  quint64 m_syncedThrough = 0;
  quint64 m_syncWantedThrough = 0;
  std::condition_variable_any m_syncWanted;
  std::function<void()> m_onBackgroundSyncFailure;
  std::function<void()> m_onBackgroundSynced;

  // The acknowledgement alternates between two slots, so that a torn write
  // never loses the previous one.
  std::mutex m_ackMutex;
  int m_ackFd = -1;
  int m_nextAckSlot = 0;

  std::jthread m_syncer;  // last: stopped before anything it uses goes
};
