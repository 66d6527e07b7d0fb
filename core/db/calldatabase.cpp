#include "core/db/calldatabase.h"

#include <sqlext.h>

#include <algorithm>

#include "core/log/journalstream.h"
#include "core/text/cp949.h"

namespace {

constexpr std::size_t kConnectionStringSize = 1024;
constexpr SQLSMALLINT kCompletedStringSize = 256;
constexpr SQLSMALLINT kDiagnosticMessageSize = 255;
constexpr SQLSMALLINT kMaxDiagnosticRecords = 11;
// A server that takes the connection and never answers must not hold start-up.
constexpr SQLULEN kLoginTimeoutSeconds = 10;

}  // namespace

CallDatabase::CallDatabase(std::string connectionString)
    : m_connectionString(std::move(connectionString)) {}

CallDatabase::~CallDatabase() { DisconnectDB(); }

bool CallDatabase::ConnectDB() {
  // The string lives in a fixed buffer; a longer one is cut to fit.
  SQLCHAR connection[kConnectionStringSize] = {};
  std::copy_n(m_connectionString.begin(),
              std::min(m_connectionString.size(), kConnectionStringSize - 1), connection);
  SQLCHAR completed[kCompletedStringSize];
  SQLSMALLINT completedLength = 0;

  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_henv) != SQL_SUCCESS) return false;
  if (SQLSetEnvAttr(m_henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                    SQL_IS_INTEGER) != SQL_SUCCESS) {
    return false;
  }
  if (SQLAllocHandle(SQL_HANDLE_DBC, m_henv, &m_hdbc) != SQL_SUCCESS) return false;
  SQLSetConnectAttr(m_hdbc, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), SQL_IS_UINTEGER);

  const SQLRETURN r = SQLDriverConnect(m_hdbc, nullptr, connection, SQL_NTS, completed,
                                       kCompletedStringSize, &completedLength, SQL_DRIVER_NOPROMPT);
  if (SQL_SUCCEEDED(r)) return true;
  ReportConnectDiagnostics();
  return false;
}

void CallDatabase::ReportConnectDiagnostics() {
  const QByteArray label = ToCp949(QStringLiteral("진단정보1"));
  for (SQLSMALLINT record = 1; record <= kMaxDiagnosticRecords; ++record) {
    SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
    SQLINTEGER nativeError = 0;
    SQLCHAR message[kDiagnosticMessageSize] = {};
    SQLSMALLINT messageLength = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_DBC, m_hdbc, record, state, &nativeError, message,
                                     kDiagnosticMessageSize, &messageLength))) {
      break;
    }
    // Bounded by its parts (5 + 11 + 254 bytes and the fixed text), so it always
    // stays within the 1024 bytes the line may take.
    const QByteArray line = "ConnectDB - SQLSTATE:" + QByteArray(reinterpret_cast<char*>(state)) +
                            ", NativeError:" + QByteArray::number(nativeError) + ", " + label +
                            ":" + QByteArray(reinterpret_cast<char*>(message));
    WriteJournalLine(JournalPriority::Error, FromCp949(line).toUtf8());
    if (m_diagnostics) m_diagnostics(line);
  }
}

void CallDatabase::DisconnectDB() {
  if (m_hdbc != SQL_NULL_HDBC) {
    SQLDisconnect(m_hdbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_hdbc);
    m_hdbc = SQL_NULL_HDBC;
  }
  if (m_henv != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, m_henv);
    m_henv = SQL_NULL_HENV;
  }
}

bool CallDatabase::CallInWrite(int centerId, const QByteArray& caller,
                               const QByteArray& inboundTail, const QByteArray& accountExt) {
  const std::string callText = BuildCallText(centerId, caller, inboundTail, accountExt);
  // A second run only helps when the first one met a broken connection; a
  // server that dropped an idle connection would otherwise cost the next call.
  for (int run = 0; run < 2; ++run) {
    const SQLRETURN r = ExecuteCall(callText);
    if (CallWasWritten(r)) return true;
    DisconnectDB();
    if (!ConnectDB() || (r != SQL_ERROR && r != SQL_INVALID_HANDLE)) return false;
  }
  return false;
}

SQLRETURN CallDatabase::ExecuteCall(std::string callText) {
  // Without a connection no handle comes back and the execution fails on the
  // null handle, which the caller treats like any failed write.
  SQLHSTMT hstmt = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_STMT, m_hdbc, &hstmt);
  const SQLRETURN r = SQLExecDirect(hstmt, reinterpret_cast<SQLCHAR*>(callText.data()), SQL_NTS);
  SQLCloseCursor(hstmt);
  if (hstmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, hstmt);
  return r;
}

bool CallWasWritten(SQLRETURN result) { return SQL_SUCCEEDED(result) || result == SQL_NO_DATA; }
