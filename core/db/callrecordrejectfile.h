#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <mutex>
#include <optional>

#include "core/db/callrecord.h"

// Where a call goes that will not reach the database (the spool is full, or
// the database refused its values), and spool bytes that no longer read as a
// record: one UTF-8 line each, appended and synced, for the operator to
// re-enter, keep or put back into the spool. Both the event loop and the
// writer append to it. Lines the disk refuses are held in memory (bounded)
// and go first at the next append or Retry.
class CallRecordRejectFile {
 public:
  explicit CallRecordRejectFile(QString path) : m_path(std::move(path)) {}

  // False when the line is held in memory (or, past the bound, only shown).
  // "<call time> 회사코드 <n> DB 기록 실패: <caller> => <line>[<ext>] (<reason>)
  // TVXR:<hex>"; the reason is CP949 like the values, and the hex holds the
  // record exactly, for putting it back.
  bool AppendRecord(const CallRecord& record, const QByteArray& reason);
  // "<now> 읽을 수 없는 기록 <n>바이트: <hex>", the first 256 bytes shown.
  bool AppendUnreadable(const QByteArray& bytes);

  // The record a line holds; nothing for unreadable bytes, and for lines
  // written before lines carried their record.
  static std::optional<CallRecord> RecordOf(const QByteArray& line);
  // The file's lines, without their line feeds; nullopt when it cannot be
  // read (a missing file has no lines).
  std::optional<QList<QByteArray>> ReadLines();
  // Puts lines in place of the whole file at once: a crash leaves either
  // the old file or the new one.
  bool ReplaceLines(const QList<QByteArray>& lines);

  const QString& Path() const { return m_path; }

  // Writes the lines held in memory; true when none is left.
  bool Retry();
  qint64 HeldLines() const;
  // Why lines are held; empty when none is.
  QString DiskError() const;

 private:
  bool AppendLine(const QByteArray& cp949);
  bool WriteHeldLocked();

  const QString m_path;
  mutable std::mutex m_mutex;
  QByteArray m_held;  // whole lines, in order
  QString m_diskError;
};
