#pragma once

#include <QByteArrayView>

enum class WriteOutcome { Written, Refused, ConnectionFailed };

// What a failed write's SQLSTATE means for the record. Refused: the database
// turned down these values, and another try cannot change that: classes 22
// (data exception), 23 (constraint), 42 (syntax or access rule; SQL Server
// raises a procedure's own errors under 42000), 44 (check option), 0L
// (grantor) and P0001 (a PL/pgSQL RAISE). Anything else, connection (08),
// time-out (HYT00, HYT01), shutdown (57), rollback (40), driver states, may
// pass on a new connection.
WriteOutcome ClassifyFailedWrite(QByteArrayView sqlState);
