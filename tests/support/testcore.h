#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "core/centrixcore.h"
#include "core/config/messagepresenter.h"
#include "core/config/settingsstore.h"

// Records every message box and answers from a script; once the script is
// spent a question is answered No and a notice Ok.
class ScriptedPresenter : public MessagePresenter {
 public:
  struct Shown {
    QString caption;
    QByteArray text;  // CP949, as the program passed it
    MessageButtons buttons;
    MessageIcon icon;
  };

  MessageAnswer Show(const QString& caption, const QByteArray& text, MessageButtons buttons,
                     MessageIcon icon) override;

  std::deque<MessageAnswer> answers;
  std::vector<Shown> shown;
};

// A TCP port that was free on every local IPv4 address at the time of the call.
quint16 FreeTcpPort();

// Controls that never sign in and raise no event; every request is taken.
TelControlFactory IdleTelControlFactory();

// What a relay core (and a window) under test runs on, all in a temporary
// directory: a settings store of its own (QSettings' user scope is
// redirected there), a log directory, two free ports, a scripted presenter,
// the clock; no database.
class TestEnvironment {
 public:
  TestEnvironment();

  // The store as a program run sees it; after RestartSettings() the next call
  // opens the stored values anew.
  SettingsStore& Settings();
  void RestartSettings() { m_settings.reset(); }
  // Idle controls when factory is empty.
  CoreContext Context(TelControlFactory factory = {});
  // The application name the settings are kept under.
  static QString ApplicationName();

  QTemporaryDir directory;
  QString logDirectory;
  quint16 extPort;
  quint16 ldkPort;
  ScriptedPresenter presenter;
  CallDatabase* database = nullptr;
  std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };

 private:
  std::unique_ptr<SettingsStore> m_settings;
};

// A core that has run its start-up steps (controls created, settings read,
// accounts signed in, sockets listening, log file open); null when a
// control could not be created.
std::unique_ptr<CentrixCore> StartCore(TestEnvironment& environment,
                                       TelControlFactory factory = {});

// A plain POSIX client of the relay on 127.0.0.1. Connecting completes
// without the relay's event loop (the system accepts into the backlog);
// everything else pumps the Qt event loop while it waits, so that the relay
// in the same thread keeps serving.
class TestClient {
 public:
  // receiveBufferBytes > 0 shrinks the system's receive buffer before connecting;
  // sourceIpv4 other than 0 is the loopback address it connects from, a host of its own.
  explicit TestClient(quint16 port, int receiveBufferBytes = 0, quint32 sourceIpv4 = 0);
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool IsConnected() const { return m_fd >= 0 && m_connected; }
  // Writes all of bytes, pumping the event loop whenever the system's buffer is full.
  bool Send(const QByteArray& bytes);
  // Writes all of bytes, waiting in the system while its buffer is full; for
  // a client on a thread of its own, away from the event loop.
  bool SendBlocking(const QByteArray& bytes);
  // Waits in the system for at most maxBytes; empty once the relay has closed.
  QByteArray ReceiveBlocking(qsizetype maxBytes);
  void ShutdownWrite();
  void Close();

  // Bytes the system holds for this client that it has not read.
  int BytesUnread() const;
  // Everything read so far; reading happens in the Wait functions and here.
  const QByteArray& Received();
  // Pumps until at least count bytes have arrived in all.
  bool WaitForBytes(qsizetype count, int timeoutMs = 10000);
  // Pumps until the relay has closed the connection.
  bool WaitForPeerClose(int timeoutMs = 10000);
  bool PeerClosed() const { return m_peerClosed; }

 private:
  void ReadAvailable();

  int m_fd = -1;
  bool m_connected = false;
  bool m_peerClosed = false;
  QByteArray m_received;
};
