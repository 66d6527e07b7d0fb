#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "core/log/journalstream.h"

// The headless journal's lines, written to standard error without ever
// blocking the relay: the lines of one pass of the event loop go out
// together, when the relay is about to send to its clients (so that no line
// arrives after the notice it tells of) or when the pass ends. What the
// reader has not taken waits, up to kMaxWaitingBytes; past that, lines are
// dropped and counted, and one line tells how many once the reader has
// caught up.
class JournalBuffer : public QObject {
  Q_OBJECT
 public:
  static constexpr qsizetype kMaxWaitingBytes = 32 * 1024;

  // fd must be open for writing; unless it is a terminal, it is made
  // non-blocking for as long as this lives.
  explicit JournalBuffer(int fd, QObject* parent = nullptr);
  ~JournalBuffer() override;

  // Runs before lines go out: what they tell of is kept first, so that a
  // reader who sees a line and kills the relay loses none of it.
  void SetBeforeWrite(std::function<void()> beforeWrite) { m_beforeWrite = std::move(beforeWrite); }
  void Add(JournalPriority priority, QByteArrayView utf8Text);
  // Writes what the reader takes now; the rest waits for it.
  void Flush();
  qint64 Dropped() const { return m_dropped; }

 private:
  void WriteWaiting();
  // The reader has not taken what was written: wait until it makes room.
  bool IsBehind() const;

  int m_fd;
  int m_flags;  // as it was; -1 when left alone
  QByteArray m_waiting;
  qint64 m_dropped = 0;  // since the last line that told of drops
  bool m_flushQueued = false;
  std::function<void()> m_beforeWrite;
  std::unique_ptr<QSocketNotifier> m_writable;  // enabled while the reader is behind
};

// "Dropped <n> journal lines: standard error was not read fast enough."
QByteArray DroppedJournalLinesText(qint64 dropped);
