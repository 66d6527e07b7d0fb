// A client's text: a registration when it starts with a number other than 0.
#include "relay/clientprotocol.h"
#include "ui/tarvexdlg.h"

#include <vector>

void CTarvexCentrixDlg::OnSocketReceive(CClientSocket* client, int /*kind*/) {
  const QByteArray text = ReceivedText(client->Receive(kMaxReceiveBytes));
  if (LeadingInt(text) == 0) {
    if (m_nLogType == 1) InsertActivityLine("Recv - " + text);
    return;
  }
  if (m_nLogType == 1) InsertActivityLine("Recv: " + text);

  // LDK505 clients are not in this table: they are never filed.
  const auto it = FindClient(m_clients, client);
  if (it == m_clients.end()) return;
  MEMBER& member = *it->second;
  member.szExtension = CutRegistrationText(text);
  const QByteArray handle = QByteArray::number(client->Handle());

  // One row per text, owned by the client that sent it last.
  std::vector<int> rows;
  for (int row = 0; row < m_listClients.GetItemCount(); ++row) {
    if (m_listClients.GetItemText(row, 0) == member.szExtension) rows.push_back(row);
  }
  if (rows.empty()) {
    rows.push_back(m_listClients.InsertItem(m_listClients.GetItemCount(), member.szExtension));
  }
  for (const int row : rows) {
    m_listClients.SetItemText(row, 1, member.szIP);
    m_listClients.SetItemText(row, 2, handle);
  }
  client->Send(RegisterAck());
}
