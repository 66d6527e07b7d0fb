#pragma once

#include <QByteArray>
#include <QObject>

#include "core/callevent/calleventoutput.h"

class CallDatabase;
class CallRecording;

// Records the calls the rules say to record: into the spool for the writer
// thread, or, when the spool could not be opened, straight into the
// database on the event loop; with neither, calls are not recorded.
class CallRecorder : public QObject, public CallEventOutput {
  Q_OBJECT
 public:
  CallRecorder(CallRecording* recording, CallDatabase* database, QObject* parent = nullptr);

  void Deliver(const CallEvent& event, const CallOutcome& outcome) override;
  void CallInWrite(const CallRecord& record);
  // Calls waiting in the spool for the database.
  qint64 RecordsWaiting() const;
  // Calls and reject lines held in memory while the disk refuses them.
  qint64 RecordsInMemory() const;

 signals:
  // A line for the top of the activity list (CP949).
  void ActivityLine(const QByteArray& line);
  // The same, and an error for the journal: the database failing.
  void ErrorLine(const QByteArray& line);
  void RecordsWaitingChanged(qint64 waiting);
  // A call in the database; one the database refused or that could not be
  // recorded (into the reject file when there is one).
  void RecordWritten();
  void RecordRejected();

 private:
  CallRecording* m_recording;
  CallDatabase* m_database;
};
