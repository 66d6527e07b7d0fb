// The relay's side of recording a call: the centre code and the time of the
// call, and a line for the operator when the call will not be recorded.
#include "core/centrixcore.h"
#include "core/db/calldatabase.h"
#include "core/db/callrecording.h"

void CentrixCore::CallInWrite(const QByteArray& caller, const QByteArray& inboundTail,
                              const QByteArray& accountExt) {
  const CallRecord record{m_nCenterId, caller, inboundTail, accountExt, Now().toMSecsSinceEpoch()};
  if (m_context.recording) {
    if (m_context.recording->Record(record)) return;
  } else if (!m_context.database ||
             m_context.database->CallInWrite(m_nCenterId, caller, inboundTail, accountExt)) {
    return;
  }
  InsertActivityLine(RecordFailureLine(record));
}

qint64 CentrixCore::RecordsWaiting() const {
  return m_context.recording ? m_context.recording->Waiting() : 0;
}
