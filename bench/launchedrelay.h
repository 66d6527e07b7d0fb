#pragma once

#include <sys/types.h>

#include <QList>
#include <QProcess>
#include <QString>
#include <string>

#include "tools/telsim/telaccount.h"

// One relay under measurement, the real one or the reference, on ports of its
// own and signed in to the simulator's accounts, ended with SIGTERM. The real
// relay gets its settings (send type 0, or 2 with centre code 1 to record
// the calls; the accounts at 127.0.0.1) written into a configuration home of
// its own.
class LaunchedRelay {
 public:
  struct Options {
    QString program;
    bool reference = false;
    QString workDirectory;  // settings and log files go below it
    quint16 telPort = 0;
    QList<TelAccount> accounts;
    std::string odbc;
    bool record = false;  // the relay records each call through cid_CallInWrite
    QString stderrFile;   // empty: discarded
    // The browser feed, with StalledBrowsers' administrator token and the
    // fleet's browsers' token for every account's extension; 0: off.
    quint16 feedPort = 0;
    // The event stream's broker on loopback; 0: no stream.
    quint16 brokerPort = 0;
  };

  explicit LaunchedRelay(Options options);
  ~LaunchedRelay();
  LaunchedRelay(const LaunchedRelay&) = delete;
  LaunchedRelay& operator=(const LaunchedRelay&) = delete;

  // Returns once both client ports take connections; the event loop runs
  // meanwhile, so that an in-process simulator answers the sign-ins.
  bool Start(QString* error);
  // From the call that started the process to both ports listening.
  double StartupMs() const { return m_startupMs; }
  quint16 ExtPort() const { return m_extPort; }
  quint16 LdkPort() const { return m_ldkPort; }
  pid_t Pid() const { return pid_t(m_process.processId()); }
  // In the events it publishes: the work directory's name, so that relays
  // publishing to one broker one after the other never share message ids.
  QString RelayName() const;
  bool IsRunning() const { return m_process.state() != QProcess::NotRunning; }
  void Stop();

 private:
  bool WriteSettings(const QString& configHome, QString* error) const;

  Options m_options;
  QProcess m_process;
  quint16 m_extPort = 0;
  quint16 m_ldkPort = 0;
  double m_startupMs = 0;
};

// A loopback port nobody listens on just now.
quint16 FreePort();
