#include <gtest/gtest.h>

#include "core/db/writeoutcome.h"

namespace {

struct OutcomeCase {
  const char* sqlState;
  WriteOutcome outcome;
};

// A refused record goes to the reject file and the next one is written; any
// other failure keeps the record for another try. Mixing them up either loses
// calls to the reject file or blocks the spool behind one bad record.
TEST(WriteOutcome, RefusedOnlyForStatesAboutTheValuesUnavailableForWhatEveryRecordMeets) {
  const OutcomeCase cases[] = {
      {"22001", WriteOutcome::Refused},      // string too long
      {"22P05", WriteOutcome::Refused},      // a character the database cannot hold
      {"23505", WriteOutcome::Refused},      // unique violation
      {"42000", WriteOutcome::Refused},      // SQL Server: RAISERROR in the procedure
      {"42601", WriteOutcome::Refused},      // syntax error
      {"42883", WriteOutcome::Unavailable},  // no such function
      {"42P01", WriteOutcome::Unavailable},  // no such table
      {"42S02", WriteOutcome::Unavailable},  // ODBC: no such table
      {"42501", WriteOutcome::Unavailable},  // insufficient privilege
      {"28P01", WriteOutcome::Unavailable},  // password authentication failed
      {"28000", WriteOutcome::Unavailable},
      {"3D000", WriteOutcome::Unavailable},       // no such database
      {"3F000", WriteOutcome::Unavailable},       // no such schema
      {"25006", WriteOutcome::Unavailable},       // read-only transaction
      {"44000", WriteOutcome::Refused},           // check option
      {"0L000", WriteOutcome::Refused},           // invalid grantor
      {"P0001", WriteOutcome::Refused},           // PL/pgSQL RAISE EXCEPTION
      {"P0002", WriteOutcome::ConnectionFailed},  // other PL/pgSQL states are not the values
      {"08001", WriteOutcome::ConnectionFailed},
      {"08S01", WriteOutcome::ConnectionFailed},
      {"HYT00", WriteOutcome::ConnectionFailed},
      {"HYT01", WriteOutcome::ConnectionFailed},
      {"57P01", WriteOutcome::ConnectionFailed},  // server shutting down
      {"40001", WriteOutcome::ConnectionFailed},  // serialization failure: try again
      {"HY000", WriteOutcome::ConnectionFailed},  // the driver's "connection dead"
      {"25P02", WriteOutcome::ConnectionFailed},
      {"2200", WriteOutcome::ConnectionFailed},  // not an SQLSTATE at all
      {"", WriteOutcome::ConnectionFailed},
      {"220011", WriteOutcome::ConnectionFailed},
  };
  for (const OutcomeCase& c : cases) {
    EXPECT_EQ(ClassifyFailedWrite(c.sqlState), c.outcome) << c.sqlState;
  }
}

}  // namespace
