#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <map>
#include <string>

#include "support/anyfreeport.h"

// The real Tarvex binary, headless unless told otherwise, on temporary ports, directories and
// settings. Its activity lines come out on standard error.
class RelayProcess {
 public:
  struct Options {
    std::string odbc;
    QString instance;
    QString logDirectory;    // default: a fresh temporary directory
    QString configHome;      // settings; default: a fresh temporary directory
    QString stateDirectory;  // call-record spool; default: a fresh temporary directory
    quint16 extPort = 0;     // 0: a free port
    quint16 ldkPort = 0;
    quint16 telPort = 1;
    quint16 feedPort = 0;                            // the browser feed; 0: none
    QString platform = QStringLiteral("offscreen");  // Qt platform plugin
    QString display;                                 // X display for "xcb"
    int descriptorLimit = 0;                         // > 0: soft and hard limit of open descriptors
    QStringList arguments;
    // Standard error to a file that JOURNAL_STREAM names, as systemd connects
    // a service's standard error to the journal.
    bool journal = false;
    // Standard error to this file instead (a FIFO whose reading the test
    // controls); StandardError() then reads nothing.
    QString standardErrorFile;
    // Set after the above (an empty value removes the variable).
    std::map<QString, QString> environment;
  };

  explicit RelayProcess(Options options);
  ~RelayProcess();

  bool Start();
  // Waits until both ports take connections.
  bool WaitListening(int timeoutMs = 15000);
  bool WaitFinished(int timeoutMs = 15000);
  bool IsRunning() const { return m_process.state() != QProcess::NotRunning; }
  qint64 ProcessId() const { return m_process.processId(); }
  // Waits until standard error holds the UTF-8 text.
  bool WaitForOutput(const QString& text, int timeoutMs = 10000);
  // Sends SIGTERM, SIGINT, SIGKILL...
  void Signal(int signalNumber);
  void Kill();

  QString StandardError();
  QString StandardOutput();
  int ExitCode() const { return m_process.exitCode(); }
  QProcess::ExitStatus ExitStatus() const { return m_process.exitStatus(); }
  const Options& options() const { return m_options; }

 private:
  QTemporaryDir m_dir;
  Options m_options;
  QProcess m_process;
  QByteArray m_stderr;
  QByteArray m_stdout;
};

// True when a TCP connection to the loopback port succeeds.
bool PortAcceptsConnections(quint16 port);
