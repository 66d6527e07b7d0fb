// A new connection on either listening socket enters the table of its kind.
#include "relay/clientprotocol.h"
#include "telephony/cp949.h"
#include "ui/tarvexdlg.h"

namespace {

// Takes every waiting connection of server into table; a connection whose
// accept failed is discarded. Calls accepted with each new record.
template <typename OnAccepted>
void AcceptWaiting(CTarvexCentrixDlg* window, QTcpServer& server, int kind, ClientTable& table,
                   OnAccepted accepted) {
  while (server.hasPendingConnections()) {
    QTcpSocket* connection = server.nextPendingConnection();
    if (!connection) return;
    if (connection->socketDescriptor() == -1) {
      delete connection;
      continue;
    }
    auto member = std::make_unique<MEMBER>();
    member->pSocket.reset(new CClientSocket(connection, kind, window->m_sendBatch, window));
    CClientSocket* client = member->pSocket.get();
    QObject::connect(client, &CClientSocket::Received, window, &CTarvexCentrixDlg::OnSocketReceive);
    QObject::connect(client, &CClientSocket::Closed, window, &CTarvexCentrixDlg::OnSocketClose);
    QObject::connect(client, &CClientSocket::Overflowed, window,
                     &CTarvexCentrixDlg::OnSocketOverflow);
    member->szIP = client->PeerAddress();
    MEMBER& record = *member;
    table[client->Handle()] = std::move(member);
    accepted(record);
    window->m_acceptPause.NoteAccepted(client->Handle());
  }
  window->m_acceptPause.HoldIfPaused(server);
}

}  // namespace

void CTarvexCentrixDlg::OnSocketAccept() {
  AcceptWaiting(this, m_serverSocket, kExtensionClient, m_clients, [this](const MEMBER& member) {
    if (m_nLogType == 1) InsertActivityLine("Accept - IP: " + member.szIP);
  });
}

void CTarvexCentrixDlg::OnSocketAccept2() {
  AcceptWaiting(this, m_serverSocket2, kLdkClient, m_clients2, [this](const MEMBER& member) {
    // Out before anything else the connection sets off, not with the pass's batch.
    member.pSocket->Send(GreetingText());
    member.pSocket->Flush();
    InsertActivityLine(ToCp949(QStringLiteral("LDK505로 접속한 클라이언트가 있습니다.")));
  });
}
