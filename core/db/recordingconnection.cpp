#include "core/db/recordingconnection.h"

#include <sqlext.h>

namespace {

constexpr SQLSMALLINT kMessageSize = 512;

QByteArray FirstDiagnostic(SQLSMALLINT handleType, SQLHANDLE handle, QByteArray* state) {
  SQLCHAR sqlState[SQL_SQLSTATE_SIZE + 1] = {};
  SQLINTEGER nativeError = 0;
  SQLCHAR message[kMessageSize] = {};
  SQLSMALLINT messageLength = 0;
  if (handle == SQL_NULL_HANDLE ||
      !SQL_SUCCEEDED(SQLGetDiagRec(handleType, handle, 1, sqlState, &nativeError, message,
                                   kMessageSize, &messageLength))) {
    *state = QByteArray();
    return QByteArrayLiteral("no diagnostic");
  }
  *state = QByteArray(reinterpret_cast<const char*>(sqlState));
  return *state + ' ' + QByteArray(reinterpret_cast<const char*>(message));
}

void SetConnectTimeout(SQLHDBC hdbc, SQLINTEGER attribute, int seconds) {
  // A driver that keeps no such time-out says so; the others still apply.
  SQLSetConnectAttr(hdbc, attribute, reinterpret_cast<SQLPOINTER>(SQLULEN(seconds)),
                    SQL_IS_UINTEGER);
}

}  // namespace

RecordingConnection::RecordingConnection(std::string connectionString, Timeouts timeouts)
    : m_connectionString(std::move(connectionString)), m_timeouts(timeouts) {}

RecordingConnection::~RecordingConnection() { Close(); }

bool RecordingConnection::Open(QByteArray* diagnostic) {
  Close();
  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_henv) != SQL_SUCCESS ||
      SQLSetEnvAttr(m_henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                    SQL_IS_INTEGER) != SQL_SUCCESS ||
      SQLAllocHandle(SQL_HANDLE_DBC, m_henv, &m_hdbc) != SQL_SUCCESS) {
    *diagnostic = QByteArrayLiteral("ODBC handles could not be allocated");
    Close();
    return false;
  }
  SetConnectTimeout(m_hdbc, SQL_ATTR_LOGIN_TIMEOUT, m_timeouts.loginSeconds);
  SetConnectTimeout(m_hdbc, SQL_ATTR_CONNECTION_TIMEOUT, m_timeouts.connectionSeconds);
  SQLSetConnectAttr(m_hdbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                    SQL_IS_UINTEGER);
  std::string connection = m_connectionString;
  const SQLRETURN r =
      SQLDriverConnect(m_hdbc, nullptr, reinterpret_cast<SQLCHAR*>(connection.data()), SQL_NTS,
                       nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(r)) {
    QByteArray state;
    *diagnostic = FirstDiagnostic(SQL_HANDLE_DBC, m_hdbc, &state);
    Close();
    return false;
  }
  m_open = true;
  return true;
}

void RecordingConnection::Close() {
  if (m_hdbc != SQL_NULL_HDBC) {
    if (m_open) SQLDisconnect(m_hdbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_hdbc);
    m_hdbc = SQL_NULL_HDBC;
  }
  if (m_henv != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, m_henv);
    m_henv = SQL_NULL_HENV;
  }
  m_open = false;
}

RecordingConnection::Result RecordingConnection::Failed(SQLSMALLINT handleType, SQLHANDLE handle) {
  Result result;
  QByteArray state;
  result.diagnostic = FirstDiagnostic(handleType, handle, &state);
  result.outcome = ClassifyFailedWrite(state);
  return result;
}

RecordingConnection::Result RecordingConnection::Write(const std::string& callText,
                                                       std::stop_token stop) {
  SQLHSTMT hstmt = SQL_NULL_HSTMT;
  if (!m_open || SQLAllocHandle(SQL_HANDLE_STMT, m_hdbc, &hstmt) != SQL_SUCCESS) {
    return Failed(SQL_HANDLE_DBC, m_hdbc);
  }
  SQLSetStmtAttr(hstmt, SQL_ATTR_QUERY_TIMEOUT,
                 reinterpret_cast<SQLPOINTER>(SQLULEN(m_timeouts.querySeconds)), SQL_IS_UINTEGER);
  std::string text = callText;
  const SQLRETURN r = SQLExecDirect(hstmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
  // The procedure returns nothing; a driver may say so with SQL_NO_DATA.
  if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA) {
    const Result result = Failed(SQL_HANDLE_STMT, hstmt);
    SQLFreeHandle(SQL_HANDLE_STMT, hstmt);
    SQLEndTran(SQL_HANDLE_DBC, m_hdbc, SQL_ROLLBACK);
    return result;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, hstmt);
  // A writer given up on while it waited: another one writes this record.
  if (stop.stop_requested()) {
    SQLEndTran(SQL_HANDLE_DBC, m_hdbc, SQL_ROLLBACK);
    return {WriteOutcome::ConnectionFailed, QByteArrayLiteral("HYT00 given up")};
  }
  if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, m_hdbc, SQL_COMMIT))) {
    const Result result = Failed(SQL_HANDLE_DBC, m_hdbc);
    SQLEndTran(SQL_HANDLE_DBC, m_hdbc, SQL_ROLLBACK);
    return result;
  }
  return {WriteOutcome::Written, {}};
}
