#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The tarvex-amibridge program with a settings file of its own: agents
// agent1..agent3 (passwords secret1..secret3, numbers 07012345301..303) on
// the phones Local/301@agents..Local/303@agents, listening on a free
// loopback port. What it logs (standard error), callers included, is kept.
class BridgeProcess {
 public:
  BridgeProcess(quint16 amiPort, const QByteArray& user, const QByteArray& secret);
  ~BridgeProcess();

  // Starts and waits until the PBX link is up.
  bool Start(QString* error);
  quint16 Port() const { return m_nPort; }
  bool IsRunning() const { return m_process.state() == QProcess::Running; }
  const QByteArray& Output();
  // Waits until the output after from holds text count times.
  bool WaitForOutput(qsizetype from, const QByteArray& text, int count = 1, int timeoutMs = 40000);

 private:
  QTemporaryDir m_dir;
  quint16 m_nPort;
  QProcess m_process;
  QByteArray m_output;
};

// The relay's settings for the same three accounts on the bridge (send type
// 2: every ring and answer relayed and recorded, centre code 7).
QByteArray RelaySettingsForBridge();
