#pragma once

#include <QByteArray>
#include <stop_token>
#include <string>

#include <sql.h>

#include "core/db/writeoutcome.h"

// The call-record writer's own ODBC connection: every call bounded by a
// time-out the driver is asked to keep, and each record committed by itself,
// so that a write whose answer is lost is rolled back rather than left to
// chance.
class RecordingConnection {
 public:
  struct Timeouts {
    int loginSeconds = 10;
    int connectionSeconds = 10;
    int querySeconds = 15;
  };
  struct Result {
    WriteOutcome outcome = WriteOutcome::ConnectionFailed;
    QByteArray diagnostic;  // "<SQLSTATE> <message>" of the first diagnostic, CP949
  };

  RecordingConnection(std::string connectionString, Timeouts timeouts);
  ~RecordingConnection();
  RecordingConnection(const RecordingConnection&) = delete;
  RecordingConnection& operator=(const RecordingConnection&) = delete;

  bool IsOpen() const { return m_open; }
  // On failure the diagnostic says why, and Close has been done.
  bool Open(QByteArray* diagnostic);
  void Close();
  // Runs the call text and commits it, unless stop was requested while it ran.
  Result Write(const std::string& callText, std::stop_token stop);

 private:
  Result Failed(SQLSMALLINT handleType, SQLHANDLE handle);

  const std::string m_connectionString;
  const Timeouts m_timeouts;
  SQLHENV m_henv = SQL_NULL_HENV;
  SQLHDBC m_hdbc = SQL_NULL_HDBC;
  bool m_open = false;
};
