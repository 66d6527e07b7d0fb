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
TEST(WriteOutcome, RefusedOnlyForStatesAboutTheValues) {
  const OutcomeCase cases[] = {
      {"22001", WriteOutcome::Refused},           // string too long
      {"22P05", WriteOutcome::Refused},           // a character the database cannot hold
      {"23505", WriteOutcome::Refused},           // unique violation
      {"42000", WriteOutcome::Refused},           // SQL Server: RAISERROR in the procedure
      {"42883", WriteOutcome::Refused},           // no such function
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
