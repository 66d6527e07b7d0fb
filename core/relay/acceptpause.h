#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <vector>

// Near the descriptor limit every accept fails at once, and a listening
// socket that kept asking would wake each pass of the event loop. The
// listening sockets stop accepting while only a reserve is left (kept for the
// log file, the database and the telephony links) and start again once
// clients have freed enough, looked for when a client goes and after a short
// wait. One line goes out when they stop and one when they start again.
//
// The limit is read at each check, so one lowered on the running process
// (prlimit) counts too.
//
// Qt goes on taking what waits in a socket's backlog (50) within the pass
// that stopped it, so the reserve is larger than both backlogs together.
class AcceptPause : public QObject {
  Q_OBJECT
 public:
  using LineSink = std::function<void(const QByteArray& line)>;
  static constexpr int kReserve = 128;
  static constexpr int kRetryMs = 500;

  AcceptPause(std::vector<QTcpServer*> servers, LineSink line, QObject* parent = nullptr);

  // A connection was taken under this descriptor; the lowest free number is
  // always the one handed out, so a high one means few are left.
  void NoteAccepted(qintptr descriptor);
  // Taking a pending connection lets Qt accept again: called after taking them.
  void HoldIfPaused(QTcpServer& server);
  // Descriptors may have been freed.
  void TryResume();

 private:
  void Pause(bool announce);
  void OnAcceptError(QAbstractSocket::SocketError error);

  std::vector<QTcpServer*> m_servers;
  LineSink m_line;
  QTimer m_retry;
  bool m_bPaused = false;
  bool m_bAnnounced = false;  // the pause came from a lack of descriptors
};
