#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// Tells systemd how the service is doing (a unit of Type=notify): ready,
// a status line, watchdog keep-alives from the event loop, stopping.
// Does nothing when systemd did not start the relay (no NOTIFY_SOCKET).
class SystemdNotifier : public QObject {
  Q_OBJECT
 public:
  // Reads NOTIFY_SOCKET and the watchdog settings now; the watchdog
  // keep-alives start at once, so a stalled event loop gets the relay restarted.
  explicit SystemdNotifier(QObject* parent = nullptr);

  bool IsActive() const { return m_bActive; }
  // 0 without a watchdog; otherwise half of what systemd allows.
  int WatchdogIntervalMs() const;

  void NotifyReady();
  // Sent at once, or at the end of the second since the last one, and then
  // only the latest text. A text equal to the one last sent is not repeated.
  void SetStatus(const QString& status);
  void NotifyStopping();

 private:
  void SendPendingStatus();
  void Send(const QByteArray& assignments);

  bool m_bActive = false;
  QTimer m_watchdogTimer;
  QTimer m_statusTimer;
  QElapsedTimer m_sinceStatusSent;
  QByteArray m_pendingStatus;
  QByteArray m_sentStatus;
};
