#include "core/db/writeoutcome.h"

WriteOutcome ClassifyFailedWrite(QByteArrayView sqlState) {
  if (sqlState.size() != 5) return WriteOutcome::ConnectionFailed;
  if (sqlState == "P0001") return WriteOutcome::Refused;
  for (const char* refusedClass : {"22", "23", "42", "44", "0L"}) {
    if (sqlState.startsWith(refusedClass)) return WriteOutcome::Refused;
  }
  return WriteOutcome::ConnectionFailed;
}
