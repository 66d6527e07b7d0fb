// A new connection on either listening socket enters the registry.
#include <QTimer>

#include "core/config/settingtypes.h"
#include "core/relay/clientprotocol.h"
#include "core/relay/clientrelay.h"
#include "core/text/cp949.h"

// Takes every waiting connection of server into the registry as a client of
// kind; a connection whose accept failed, or that may not stay, is
// discarded. Calls accepted with each new record.
void ClientRelay::AcceptWaiting(QTcpServer& server, int kind,
                                const std::function<void(const MEMBER&)>& accepted) {
  while (server.hasPendingConnections()) {
    QTcpSocket* connection = server.nextPendingConnection();
    if (!connection) return;
    if (connection->socketDescriptor() == -1 || !Admit(*connection, kind)) {
      delete connection;
      continue;
    }
    const QByteArray host = ClientAdmission::HostOf(connection->peerAddress());
    std::unique_ptr<CClientSocket, DeleteClientSocketLater> socket(
        new CClientSocket(connection, m_registry.NextId(), kind, m_sendBatch, this));
    CClientSocket* client = socket.get();
    connect(client, &CClientSocket::Received, this, &ClientRelay::OnSocketReceive);
    connect(client, &CClientSocket::Closed, this, &ClientRelay::OnSocketClose);
    connect(client, &CClientSocket::Overflowed, this, &ClientRelay::OnSocketOverflow);
    accepted(m_registry.Add(std::move(socket), client->PeerAddress(), host));
    m_acceptPause.NoteAccepted(client->Handle());
  }
  m_acceptPause.HoldIfPaused(server);
}

bool ClientRelay::Admit(QTcpSocket& connection, int kind) {
  const QHostAddress peer = connection.peerAddress();
  const Admission admission = m_admission.Admit(kind, peer);
  if (admission == Admission::Admitted) return true;
  emit Refused(kind, admission);
  const QByteArray host = ClientAdmission::HostOf(peer);
  if (admission == Admission::NotAllowed) {
    m_throttle.Report(kRefusedLine, host,
                      host + ToCp949(QStringLiteral(" 클라이언트는 포트 %1의 접속 허용 목록에 "
                                                    "없어 연결을 끊었습니다.")
                                         .arg(Port(kind))));
  } else {
    m_throttle.Report(kOverHostLimitLine, host,
                      host + ToCp949(QStringLiteral(" 클라이언트의 연결이 %1개를 넘어 연결을 "
                                                    "끊었습니다.")
                                         .arg(m_admission.ClientsPerHost())));
  }
  connection.abort();
  return false;
}

void ClientRelay::OnSocketAccept() {
  AcceptWaiting(m_serverSocket, kExtensionClient, [this](const MEMBER& member) {
    if (m_nLogType == kLogDebug) emit ActivityLine("Accept - IP: " + member.szIP);
    if (m_registerWaitMs <= 0) return;
    CClientSocket* client = member.pSocket.get();
    QTimer::singleShot(m_registerWaitMs, client, [this, client] { OnRegisterDeadline(client); });
  });
}

void ClientRelay::OnSocketAccept2() {
  AcceptWaiting(m_serverSocket2, kLdkClient, [this](const MEMBER& member) {
    // Out before anything else the connection sets off, not with the pass's batch.
    member.pSocket->Send(GreetingText());
    member.pSocket->Flush();
    emit ActivityLine(ToCp949(QStringLiteral("LDK505로 접속한 클라이언트가 있습니다.")));
  });
}
