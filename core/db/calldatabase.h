#pragma once

#include <QByteArray>
#include <functional>
#include <string>

#include <sql.h>

// The single ODBC connection of the program and the recording of calls
// through the stored procedure cid_CallInWrite.
class CallDatabase {
 public:
  using DiagnosticSink = std::function<void(const QByteArray& line)>;

  explicit CallDatabase(std::string connectionString);
  ~CallDatabase();
  CallDatabase(const CallDatabase&) = delete;
  CallDatabase& operator=(const CallDatabase&) = delete;

  // Receives each formatted connect diagnostic (CP949); every one also goes to
  // standard error as UTF-8.
  void SetDiagnosticSink(DiagnosticSink sink) { m_diagnostics = std::move(sink); }

  // On failure the handles allocated so far stay; DisconnectDB frees them.
  bool ConnectDB();
  // Safe in any state, also when nothing is allocated.
  void DisconnectDB();
  // Runs the procedure once; after a failed write it reconnects and, when the
  // failure was SQL_ERROR or SQL_INVALID_HANDLE and the reconnect worked,
  // runs it once more. True when the call was recorded.
  bool CallInWrite(int centerId, const QByteArray& caller, const QByteArray& inboundTail,
                   const QByteArray& accountExt);

  bool IsAllocated() const { return m_henv != SQL_NULL_HENV || m_hdbc != SQL_NULL_HDBC; }

 private:
  SQLRETURN ExecuteCall(std::string callText);
  void ReportConnectDiagnostics();

  std::string m_connectionString;
  DiagnosticSink m_diagnostics;
  SQLHENV m_henv = SQL_NULL_HENV;
  SQLHDBC m_hdbc = SQL_NULL_HDBC;
};

// Whether a run of the procedure call with this result has run: a procedure
// that reports no row count (SET NOCOUNT ON) ends with SQL_NO_DATA.
bool CallWasWritten(SQLRETURN result);

// "{Call cid_CallInWrite(%d,'%s','%s','%s')}". Single quotes in values are doubled
// and a value ends at its first NUL byte, so no value can alter the call.
std::string BuildCallText(int centerId, const QByteArray& caller, const QByteArray& inboundTail,
                          const QByteArray& accountExt);

// The built-in connection string of the call database.
std::string DefaultConnectionString();
