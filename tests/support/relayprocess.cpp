#include "support/relayprocess.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

#include <csignal>

#include "support/failurelog.h"
#include "support/qtwait.h"

bool PortAcceptsConnections(quint16 port) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port);
  const bool connected = socket.waitForConnected(500);
  socket.abort();
  return connected;
}

RelayProcess::RelayProcess(Options options) : m_options(std::move(options)) {
  if (m_options.logDirectory.isEmpty()) m_options.logDirectory = m_dir.filePath("CIDLog");
  if (m_options.configHome.isEmpty()) m_options.configHome = m_dir.filePath("config");
  if (m_options.stateDirectory.isEmpty()) m_options.stateDirectory = m_dir.filePath("state");
  if (m_options.extPort == 0) m_options.extPort = AnyFreePort();
  while (m_options.ldkPort == 0 || m_options.ldkPort == m_options.extPort) {
    m_options.ldkPort = AnyFreePort();
  }
  if (m_options.instance.isEmpty()) m_options.instance = "tarvex-test-" + m_dir.path();
  QObject::connect(&m_process, &QProcess::readyReadStandardError,
                   [this] { m_stderr += m_process.readAllStandardError(); });
  QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                   [this] { m_stdout += m_process.readAllStandardOutput(); });
}

RelayProcess::~RelayProcess() {
  if (IsRunning()) {
    Kill();
    m_process.waitForFinished(5000);
  }
  if (InFailingTest()) {
    PrintLogTail(QStringLiteral("the relay's standard error"), StandardError().toUtf8());
  }
}

bool RelayProcess::Start() {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", m_options.platform);
  if (!m_options.display.isEmpty()) environment.insert("DISPLAY", m_options.display);
  for (const auto& [name, value] : m_options.environment) {
    if (value.isEmpty()) {
      environment.remove(name);
    } else {
      environment.insert(name, value);
    }
  }
  environment.insert("TARVEX_ODBC", QString::fromStdString(m_options.odbc));
  environment.insert("TARVEX_LOG_DIR", m_options.logDirectory);
  environment.insert("TARVEX_STATE_DIR", m_options.stateDirectory);
  environment.insert("TARVEX_EXT_PORT", QString::number(m_options.extPort));
  environment.insert("TARVEX_LDK_PORT", QString::number(m_options.ldkPort));
  environment.insert("TARVEX_TEL_PORT", QString::number(m_options.telPort));
  environment.insert("TARVEX_FEED_PORT", QString::number(m_options.feedPort));
  environment.insert("TARVEX_INSTANCE", m_options.instance);
  environment.insert("XDG_CONFIG_HOME", m_options.configHome);
  // psqlODBC keeps a few bytes per connection that LeakSanitizer would report;
  // the table of suppressions used would end the relay's output unprefixed.
  environment.insert("LSAN_OPTIONS",
                     QStringLiteral("suppressions=%1/tests/support/lsan.supp:print_suppressions=0")
                         .arg(QStringLiteral(TARVEX_SOURCE_DIR)));
  if (m_options.journal) {
    const QString journal = m_dir.filePath(QStringLiteral("journal"));
    QFile(journal).open(QIODevice::WriteOnly);
    struct stat file {};
    if (::stat(QFile::encodeName(journal).constData(), &file) != 0) return false;
    environment.insert("JOURNAL_STREAM",
                       QStringLiteral("%1:%2").arg(quint64(file.st_dev)).arg(quint64(file.st_ino)));
    m_process.setStandardErrorFile(journal, QIODevice::Append);
  }
  if (!m_options.standardErrorFile.isEmpty()) {
    m_process.setStandardErrorFile(m_options.standardErrorFile);
  }
  m_process.setProcessEnvironment(environment);
  m_process.setProgram(QStringLiteral(TARVEX_BINARY_DIR "/Tarvex"));
  m_process.setArguments(m_options.arguments);
  // Both limits, since the relay lifts its soft limit to the hard one.
  if (const rlim_t limit = rlim_t(m_options.descriptorLimit); limit > 0) {
    m_process.setChildProcessModifier([limit] {
      const rlimit both{limit, limit};
      setrlimit(RLIMIT_NOFILE, &both);
    });
  }
  m_process.start();
  return m_process.waitForStarted(10000);
}

bool RelayProcess::WaitListening(int timeoutMs) {
  return WaitUntil(
             [this] {
               return !IsRunning() || (PortAcceptsConnections(m_options.extPort) &&
                                       PortAcceptsConnections(m_options.ldkPort));
             },
             timeoutMs) &&
         IsRunning();
}

bool RelayProcess::WaitFinished(int timeoutMs) {
  return WaitUntil([this] { return !IsRunning(); }, timeoutMs);
}

bool RelayProcess::WaitForOutput(const QString& text, int timeoutMs) {
  return WaitUntil([&] { return StandardError().contains(text); }, timeoutMs);
}

void RelayProcess::Signal(int signalNumber) {
  if (IsRunning()) ::kill(pid_t(m_process.processId()), signalNumber);
}

void RelayProcess::Kill() { m_process.kill(); }

QString RelayProcess::StandardOutput() {
  m_stdout += m_process.readAllStandardOutput();
  return QString::fromUtf8(m_stdout);
}

QString RelayProcess::StandardError() {
  if (m_options.journal) {
    QFile journal(m_dir.filePath(QStringLiteral("journal")));
    return journal.open(QIODevice::ReadOnly) ? QString::fromUtf8(journal.readAll()) : QString();
  }
  if (m_options.standardErrorFile.isEmpty()) m_stderr += m_process.readAllStandardError();
  return QString::fromUtf8(m_stderr);
}
