#pragma once

#include <QByteArrayView>

// Written: the database took the record. Refused: it turned these values
// down, and another try cannot change that. Unavailable: the database
// answers but would turn down every record the same way (a missing
// procedure, table or right, a read-only database); the record waits until
// someone puts that right. ConnectionFailed: the connection or the call
// broke, and a new connection may get through.
enum class WriteOutcome { Written, Refused, Unavailable, ConnectionFailed };

// What a failed write's SQLSTATE means for the record.
// Unavailable, before the classes below: 42883 (no such function), 42P01 and
// 42S02 (no such table), 42501 (insufficient privilege), classes 28
// (authorization), 3D (catalog), 3F (schema) and 25006 (read-only
// transaction).
// Refused: classes 22 (data exception), 23 (constraint), 42 (syntax or access
// rule; SQL Server raises a procedure's own errors under 42000), 44 (check
// option), 0L (grantor) and P0001 (a PL/pgSQL RAISE).
// Anything else, connection (08), time-out (HYT00, HYT01), shutdown (57),
// rollback (40), driver states, is ConnectionFailed.
WriteOutcome ClassifyFailedWrite(QByteArrayView sqlState);
