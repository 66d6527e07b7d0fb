#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>
#include <string>

#include "core/db/callrecord.h"

class CallRecordSpool;
class CallRecordRejectFile;
class CallRecordWriter;

// Recording of calls off the event loop: the spool in the state directory,
// the writer thread that empties it into the database, and the reject file
// for calls that cannot go either way. What the operator should see comes
// out as activity lines (CP949).
class CallRecording : public QObject {
  Q_OBJECT
 public:
  struct Requeued {
    qsizetype records = 0;
    // Lines that hold no record to put back (unreadable bytes, lines of
    // earlier versions, records the spool would not take); they stay.
    qsizetype kept = 0;
    QString problem;  // empty when it worked
  };

  CallRecording(QString stateDirectory, std::string connectionString, QObject* parent = nullptr);
  ~CallRecording() override;

  // Opens the spool and takes over what the last run left; false with a
  // reason when the state directory cannot hold it or another process has
  // it open.
  bool Open(QString* problem);
  // After a failed Open: another process holds the state directory.
  bool HeldElsewhere() const;
  // Starts writing; what waits from the last run goes first.
  void Start();
  // Appends the call for the writer; false when it went to the reject file
  // instead (spool full, record too large). The calls of one pass of the
  // event loop are synced together at its end, and only then handed to the
  // writer. A call the disk refuses waits in memory, and the writer takes
  // it from there.
  bool Record(const CallRecord& record);
  qint64 Waiting() const;
  // Calls and reject lines that only memory holds, since the disk refused them.
  qint64 HeldInMemory() const;
  // Syncs what was appended, then gives the writer up to budget to empty
  // the spool; the rest waits for the next start.
  void Finish(std::chrono::milliseconds budget);
  // After Open, without Start: puts the records of the reject file back into
  // the spool, synced, then takes their lines out of the reject file.
  Requeued RequeueRejected();

  QString RejectFilePath() const;

 signals:
  void ActivityLine(const QByteArray& line);
  // For the activity list and, as an error, for the journal.
  void ErrorLine(const QByteArray& line);
  // At most twice a second, when the count has changed.
  void RecordsWaitingChanged(qint64 waiting);
  // The writer's outcome for one record: in the database, or in the reject file.
  void Written();
  void Rejected();

 private:
  void SyncAppended();
  // Tells what the disk did to the spool and the reject file, and tries
  // again once a second while it refuses them.
  void ReportDisk();
  void RetryDisk();
  void TellDiskState(const QString& error, bool* told, QByteArray (*errorLine)(const QString&),
                     QByteArray (*recoveredLine)());
  // Tells a database failure once per kind until a record is written again.
  void ReportFailure(const QByteArray& diagnostic, QByteArray (*line)(const QByteArray&));
  void RecordWritten();

  std::shared_ptr<CallRecordSpool> m_spool;
  std::shared_ptr<CallRecordRejectFile> m_rejects;
  std::unique_ptr<CallRecordWriter> m_writer;
  bool m_syncPosted = false;
  QTimer m_diskRetry;
  bool m_spoolDiskErrorTold = false;
  bool m_rejectDiskErrorTold = false;
  QSet<QByteArray> m_failuresTold;  // SQLSTATEs
  bool m_recordsHeld = false;       // a failure that keeps records waiting was told
};

// "DB 기록 지연: 기록 대기 <n>건", when records have waited too long.
QByteArray RecordingBehindLine(qint64 waiting);
// "DB 기록 정상: 대기 기록을 모두 기록했습니다."
QByteArray RecordingCaughtUpLine();
// "DB 기록 오류: <SQLSTATE> <message> (기록은 대기열에서 기다립니다)"
QByteArray RecordingHeldLine(const QByteArray& diagnostic);
// "DB 기록 거부: <SQLSTATE> <message> (기록은 거부 파일로 갑니다)"
QByteArray RecordingRefusedLine(const QByteArray& diagnostic);
// "DB 기록 정상: 데이터베이스에 다시 기록합니다."
QByteArray RecordingResumedLine();
