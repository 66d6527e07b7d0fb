// A new connection on either listening socket enters the registry.
#include "core/config/settingtypes.h"
#include "core/relay/clientprotocol.h"
#include "core/relay/clientrelay.h"
#include "core/text/cp949.h"

namespace {

// Takes every waiting connection of server into the registry as a client of
// kind; a connection whose accept failed is discarded. Calls accepted with
// each new record.
template <typename OnAccepted>
void AcceptWaiting(ClientRelay* relay, QTcpServer& server, int kind, ClientSendBatch& batch,
                   AcceptPause& pause, OnAccepted accepted) {
  ClientRegistry& registry = relay->Registry();
  while (server.hasPendingConnections()) {
    QTcpSocket* connection = server.nextPendingConnection();
    if (!connection) return;
    if (connection->socketDescriptor() == -1) {
      delete connection;
      continue;
    }
    std::unique_ptr<CClientSocket, DeleteClientSocketLater> socket(
        new CClientSocket(connection, registry.NextId(), kind, batch, relay));
    CClientSocket* client = socket.get();
    QObject::connect(client, &CClientSocket::Received, relay, &ClientRelay::OnSocketReceive);
    QObject::connect(client, &CClientSocket::Closed, relay, &ClientRelay::OnSocketClose);
    QObject::connect(client, &CClientSocket::Overflowed, relay, &ClientRelay::OnSocketOverflow);
    accepted(registry.Add(std::move(socket), client->PeerAddress()));
    pause.NoteAccepted(client->Handle());
  }
  pause.HoldIfPaused(server);
}

}  // namespace

void ClientRelay::OnSocketAccept() {
  AcceptWaiting(this, m_serverSocket, kExtensionClient, m_sendBatch, m_acceptPause,
                [this](const MEMBER& member) {
                  if (m_nLogType == kLogDebug) emit ActivityLine("Accept - IP: " + member.szIP);
                });
}

void ClientRelay::OnSocketAccept2() {
  AcceptWaiting(
      this, m_serverSocket2, kLdkClient, m_sendBatch, m_acceptPause, [this](const MEMBER& member) {
        // Out before anything else the connection sets off, not with the pass's batch.
        member.pSocket->Send(GreetingText());
        member.pSocket->Flush();
        emit ActivityLine(ToCp949(QStringLiteral("LDK505로 접속한 클라이언트가 있습니다.")));
      });
}
