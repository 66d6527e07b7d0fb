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
}

void CallRecorder::Deliver(const CallEvent&, const CallOutcome& outcome) {
  if (outcome.record) CallInWrite(*outcome.record);
}

void CallRecorder::CallInWrite(const CallRecord& record) {
  if (m_recording) {
    if (m_recording->Record(record)) return;
  } else if (!m_database || m_database->CallInWrite(record.centerId, record.caller,
                                                    record.inboundTail, record.accountExt)) {
    return;
  }
  emit ActivityLine(RecordFailureLine(record));
}

qint64 CallRecorder::RecordsWaiting() const { return m_recording ? m_recording->Waiting() : 0; }

qint64 CallRecorder::RecordsInMemory() const {
  return m_recording ? m_recording->HeldInMemory() : 0;
}
