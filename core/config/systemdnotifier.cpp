#include "core/config/systemdnotifier.h"

#include <systemd/sd-daemon.h>

#include <QtGlobal>
#include <algorithm>

namespace {

constexpr qint64 kStatusIntervalMs = 1000;

}  // namespace

SystemdNotifier::SystemdNotifier(QObject* parent)
    : QObject(parent), m_bActive(!qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) {
  m_statusTimer.setSingleShot(true);
  connect(&m_statusTimer, &QTimer::timeout, this, &SystemdNotifier::SendPendingStatus);
  uint64_t watchdogUsec = 0;
  if (m_bActive && sd_watchdog_enabled(0, &watchdogUsec) > 0) {
    m_watchdogTimer.setInterval(int(std::clamp<uint64_t>(watchdogUsec / 2000, 1, 24 * 3600000)));
    connect(&m_watchdogTimer, &QTimer::timeout, this, [this] { Send("WATCHDOG=1"); });
    m_watchdogTimer.start();
  }
}

int SystemdNotifier::WatchdogIntervalMs() const {
  return m_watchdogTimer.isActive() ? m_watchdogTimer.interval() : 0;
}

void SystemdNotifier::NotifyReady() { Send("READY=1"); }

void SystemdNotifier::SetStatus(const QString& status) {
  if (!m_bActive) return;
  // One line: a line break would end the assignment early.
  QByteArray line = status.toUtf8();
  line.replace('\n', ' ').replace('\r', ' ');
  m_pendingStatus = line;
  if (m_statusTimer.isActive()) return;
  const qint64 sinceLast =
      m_sinceStatusSent.isValid() ? m_sinceStatusSent.elapsed() : kStatusIntervalMs;
  if (sinceLast >= kStatusIntervalMs) {
    SendPendingStatus();
  } else {
    m_statusTimer.start(int(kStatusIntervalMs - sinceLast));
  }
}

void SystemdNotifier::SendPendingStatus() {
  if (m_pendingStatus == m_sentStatus) return;
  m_sentStatus = m_pendingStatus;
  m_sinceStatusSent.start();
  Send("STATUS=" + m_sentStatus);
}

void SystemdNotifier::NotifyStopping() { Send("STOPPING=1"); }

void SystemdNotifier::Send(const QByteArray& assignments) {
  if (m_bActive) sd_notify(0, assignments.constData());
}
