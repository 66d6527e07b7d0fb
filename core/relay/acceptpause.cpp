#include "core/relay/acceptpause.h"

#include <dirent.h>
#include <sys/resource.h>

#include <limits>

#include "core/text/cp949.h"

namespace {

qint64 DescriptorLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return std::numeric_limits<int>::max();
  }
  return qint64(limit.rlim_cur);
}

// Descriptors the process holds; the limit itself when they cannot be
// counted (the count needs one more).
qint64 OpenDescriptors(qint64 limit) {
  DIR* directory = opendir("/proc/self/fd");
  if (!directory) return limit;
  qint64 count = -1;  // the directory's own
  while (const dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(directory);
  return count;
}

}  // namespace

AcceptPause::AcceptPause(std::vector<QTcpServer*> servers, LineSink line, QObject* parent)
    : QObject(parent), m_servers(std::move(servers)), m_line(std::move(line)) {
  m_retry.setSingleShot(true);
  m_retry.setInterval(kRetryMs);
  m_retry.callOnTimeout(this, &AcceptPause::TryResume);
  for (QTcpServer* server : m_servers) {
    connect(server, &QTcpServer::acceptError, this, &AcceptPause::OnAcceptError);
  }
}

void AcceptPause::NoteAccepted(qintptr descriptor) {
  if (descriptor >= DescriptorLimit() - kReserve) Pause(true);
}

void AcceptPause::HoldIfPaused(QTcpServer& server) {
  if (m_bPaused) server.pauseAccepting();
}

// Twice the reserve free before accepting again, so that a single client
// coming and going does not stop and start the sockets each time.
void AcceptPause::TryResume() {
  if (!m_bPaused) return;
  const qint64 limit = DescriptorLimit();
  if (OpenDescriptors(limit) > limit - 2 * kReserve) {
    m_retry.start();
    return;
  }
  m_bPaused = false;
  m_retry.stop();
  for (QTcpServer* server : m_servers) {
    if (server->isListening()) server->resumeAccepting();
  }
  if (m_bAnnounced) m_line(ToCp949(QStringLiteral("새 연결을 다시 받습니다.")));
  m_bAnnounced = false;
}

void AcceptPause::Pause(bool announce) {
  for (QTcpServer* server : m_servers) {
    if (server->isListening()) server->pauseAccepting();
  }
  m_bPaused = true;
  if (!m_retry.isActive()) m_retry.start();
  if (!announce || m_bAnnounced) return;
  m_bAnnounced = true;
  m_line(ToCp949(QStringLiteral("연결 수가 한도에 이르러 새 연결을 잠시 받지 않습니다.")));
}

// Qt has already stopped the failing socket; a failure other than a lack of
// descriptors is waited out the same way, without a line.
void AcceptPause::OnAcceptError(QAbstractSocket::SocketError error) {
  Pause(error == QAbstractSocket::SocketResourceError);
}
