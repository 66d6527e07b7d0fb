#include "support/postgrescluster.h"

#include <QProcess>

namespace {

// initdb and a server start on a busy machine can take long; this only guards
// against a hang.
constexpr int kScriptTimeoutMs = 300000;

constexpr char kFieldSeparator = '\x1f';
constexpr char kRowSeparator = '\x1e';

QString ScriptPath() { return QStringLiteral(TARVEX_SOURCE_DIR "/scripts/pg-cluster.sh"); }

}  // namespace

// psqlODBC keeps a few bytes of every connection that has ConnSettings; that is
// the driver's, and should not fail a sanitizer run of the tests that connect.
extern "C" const char* __lsan_default_suppressions() { return "leak:psqlodbca.so\n"; }

PostgresCluster::~PostgresCluster() { RunScript({QStringLiteral("remove"), m_dir.path()}); }

bool PostgresCluster::Start() {
  const std::optional<QByteArray> output = RunScript({QStringLiteral("start"), m_dir.path()});
  if (!output) return false;
  m_connectionString = output->trimmed().toStdString();
  return true;
}

bool PostgresCluster::Stop() {
  return RunScript({QStringLiteral("stop"), m_dir.path()}).has_value();
}

bool PostgresCluster::Kill() {
  return RunScript({QStringLiteral("kill"), m_dir.path()}).has_value();
}

bool PostgresCluster::Freeze() {
  return RunScript({QStringLiteral("freeze"), m_dir.path()}).has_value();
}

bool PostgresCluster::Thaw() {
  return RunScript({QStringLiteral("thaw"), m_dir.path()}).has_value();
}

std::optional<QList<CallRow>> PostgresCluster::Calls() {
  const std::optional<QByteArray> output =
      RunScript({QStringLiteral("sql"), m_dir.path(),
                 QStringLiteral("SELECT center_id, caller, in_exten, account_ext FROM calls "
                                "ORDER BY id")});
  if (!output) return std::nullopt;
  QByteArray table = *output;
  table.chop(1);  // psql ends its output with a newline
  QList<CallRow> rows;
  if (table.isEmpty()) return rows;
  for (const QByteArray& line : table.split(kRowSeparator)) {
    const QList<QByteArray> fields = line.split(kFieldSeparator);
    if (fields.size() != 4) {
      m_lastError = QStringLiteral("unexpected row: ") + QString::fromLatin1(line.toHex(' '));
      return std::nullopt;
    }
    rows.append({fields[0].toInt(), fields[1], fields[2], fields[3]});
  }
  return rows;
}

bool PostgresCluster::ClearCalls() {
  return Execute(QStringLiteral("DELETE FROM calls")).has_value();
}

std::optional<QByteArray> PostgresCluster::Execute(const QString& sql) {
  return RunScript({QStringLiteral("sql"), m_dir.path(), sql});
}

std::optional<QByteArray> PostgresCluster::RunScript(const QStringList& arguments) {
  // Without a directory the script would fall back to the demo's cluster.
  if (!m_dir.isValid()) {
    m_lastError = QStringLiteral("no temporary directory: ") + m_dir.errorString();
    return std::nullopt;
  }
  QProcess process;
  process.start(QStringLiteral("bash"), QStringList{ScriptPath()} + arguments);
  if (!process.waitForFinished(kScriptTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0) {
    process.kill();
    process.waitForFinished();
    m_lastError =
        QStringLiteral("pg-cluster.sh %1 failed: %2")
            .arg(arguments.first(), QString::fromLocal8Bit(process.readAllStandardError()));
    return std::nullopt;
  }
  return process.readAllStandardOutput();
}
