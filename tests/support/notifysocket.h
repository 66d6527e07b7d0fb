#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// A datagram socket in the place of systemd's notification socket: bound to
// a fresh path, it keeps every message sent to it.
class NotifySocket {
 public:
  NotifySocket();
  ~NotifySocket();
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  bool IsOpen() const { return m_fd >= 0; }
  // The value for NOTIFY_SOCKET.
  QString Path() const { return m_path; }
  // Everything received so far, after reading what is waiting.
  const QList<QByteArray>& Messages();
  // The texts of the messages that start with prefix, in order.
  QList<QByteArray> MessagesStartingWith(const QByteArray& prefix);
  // Runs the event loop until a message equal to text has arrived.
  bool WaitFor(const QByteArray& text, int timeoutMs = 10000);
  // Runs the event loop until count messages start with prefix.
  bool WaitForCount(const QByteArray& prefix, qsizetype count, int timeoutMs = 10000);

 private:
  QTemporaryDir m_dir;
  QString m_path;
  int m_fd = -1;
  QList<QByteArray> m_messages;
};
