#include "core/db/callrecorder.h"

#include "core/db/calldatabase.h"
#include "core/db/callrecording.h"

CallRecorder::CallRecorder(CallRecording* recording, CallDatabase* database, QObject* parent)
    : QObject(parent), m_recording(recording), m_database(database) {
  if (!m_recording) return;
  connect(m_recording, &CallRecording::ActivityLine, this, &CallRecorder::ActivityLine);
  connect(m_recording, &CallRecording::ErrorLine, this, &CallRecorder::ErrorLine);
  connect(m_recording, &CallRecording::RecordsWaitingChanged, this,
          &CallRecorder::RecordsWaitingChanged);
  connect(m_recording, &CallRecording::Written, this, &CallRecorder::RecordWritten);
  connect(m_recording, &CallRecording::Rejected, this, &CallRecorder::RecordRejected);
}

void CallRecorder::Deliver(const CallEvent&, const CallOutcome& outcome) {
  if (outcome.record) CallInWrite(*outcome.record);
}

void CallRecorder::CallInWrite(const CallRecord& record) {
  if (m_recording) {
    // The writer tells later what became of a record the spool took.
    if (m_recording->Record(record)) return;
  } else if (!m_database) {
    return;
  } else if (m_database->CallInWrite(record.centerId, record.caller, record.inboundTail,
                                     record.accountExt)) {
    emit RecordWritten();
    return;
  }
  emit RecordRejected();
  emit ActivityLine(RecordFailureLine(record));
}

qint64 CallRecorder::RecordsWaiting() const { return m_recording ? m_recording->Waiting() : 0; }

qint64 CallRecorder::RecordsInMemory() const {
  return m_recording ? m_recording->HeldInMemory() : 0;
}
