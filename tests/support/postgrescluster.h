#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <optional>
#include <string>

// One row of the calls table; texts as the relay wrote them (CP949).
struct CallRow {
  int centerId = 0;
  QByteArray caller;
  QByteArray inExten;
  QByteArray accountExt;
  friend bool operator==(const CallRow&, const CallRow&) = default;
};

// A throw-away PostgreSQL cluster in a temporary directory, holding the call
// database with cid_CallInWrite, on a free loopback port. It runs through
// scripts/pg-cluster.sh, so the tests and the demo set it up the same way.
// The destructor stops the server and deletes everything.
class PostgresCluster {
 public:
  PostgresCluster() = default;
  ~PostgresCluster();
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  // The first start creates the cluster (slow: run it once per suite); later
  // starts reuse its data and port. False with LastError() on failure.
  bool Start();
  bool Stop();
  // Stops the server at once, as a crash would; Start() recovers it.
  bool Kill();
  // Halts every server process (SIGSTOP), as a hung server; Thaw() lets them go on.
  bool Freeze();
  bool Thaw();

  // ODBC connection string through "PostgreSQL ANSI" with CP949 as client encoding.
  // Empty before the first successful Start().
  const std::string& ConnectionString() const { return m_connectionString; }

  // Rows of the calls table in the order they were written; nullopt on failure.
  std::optional<QList<CallRow>> Calls();
  bool ClearCalls();
  // Runs SQL as the relay's login; what it printed, fields separated by 0x1F
  // and rows ended by 0x1E. nullopt on failure.
  std::optional<QByteArray> Execute(const QString& sql);

  const QString& LastError() const { return m_lastError; }

 private:
  std::optional<QByteArray> RunScript(const QStringList& arguments);

  QTemporaryDir m_dir;
  std::string m_connectionString;
  QString m_lastError;
};
