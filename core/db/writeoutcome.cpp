#include "core/db/writeoutcome.h"

WriteOutcome ClassifyFailedWrite(QByteArrayView sqlState) {
  if (sqlState.size() != 5) return WriteOutcome::ConnectionFailed;
  for (const char* everyRecord : {"42883", "42P01", "42S02", "42501", "25006"}) {
    if (sqlState == everyRecord) return WriteOutcome::Unavailable;
  }
  for (const char* everyRecordClass : {"28", "3D", "3F"}) {
    if (sqlState.startsWith(everyRecordClass)) return WriteOutcome::Unavailable;
  }
  if (sqlState == "P0001") return WriteOutcome::Refused;
  for (const char* refusedClass : {"22", "23", "42", "44", "0L"}) {
    if (sqlState.startsWith(refusedClass)) return WriteOutcome::Refused;
  }
  return WriteOutcome::ConnectionFailed;
}
