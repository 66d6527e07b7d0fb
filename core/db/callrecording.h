#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
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
  CallRecording(QString stateDirectory, std::string connectionString, QObject* parent = nullptr);
  ~CallRecording() override;

  // Opens the spool and takes over what the last run left; false with a
  // reason when the state directory cannot hold it.
  bool Open(QString* problem);
  // Starts writing; what waits from the last run goes first.
  void Start();
  // Appends the call for the writer; false when it went to the reject file
  // instead (spool full, record too large, disk failing).
  bool Record(const CallRecord& record);
  qint64 Waiting() const;
  // Up to budget for the writer to empty the spool; the rest waits for the
  // next start.
  void Finish(std::chrono::milliseconds budget);

  QString RejectFilePath() const;

 signals:
  void ActivityLine(const QByteArray& line);
  // At most twice a second, when the count has changed.
  void RecordsWaitingChanged(qint64 waiting);

 private:
  std::shared_ptr<CallRecordSpool> m_spool;
  std::shared_ptr<CallRecordRejectFile> m_rejects;
  std::unique_ptr<CallRecordWriter> m_writer;
};

// "DB 기록 지연: 기록 대기 <n>건", when records have waited too long.
QByteArray RecordingBehindLine(qint64 waiting);
// "DB 기록 정상: 대기 기록을 모두 기록했습니다."
QByteArray RecordingCaughtUpLine();
