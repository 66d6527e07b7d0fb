// A client's connection ends: its rows, its entry and its socket go.
#include "relay/clientprotocol.h"
#include "ui/tarvexdlg.h"

void CTarvexCentrixDlg::OnSocketClose(CClientSocket* client, int kind) {
  ClientTable& table = kind == kLdkClient ? m_clients2 : m_clients;
  const auto it = FindClient(table, client);
  if (it == table.end()) return;
  if (kind != kLdkClient) {
    for (int row = m_listClients.GetItemCount() - 1; row >= 0; --row) {
      if (LeadingInt(m_listClients.GetItemText(row, 2)) == client->Handle()) {
        m_listClients.DeleteItem(row);
      }
    }
  }
  client->Close();
  // The close may be reported from inside the client's own notification:
  // its object goes once that has returned.
  it->second->pSocket.release()->deleteLater();
  table.erase(it);
  m_acceptPause.TryResume();  // its descriptor is free again
}

// At shutdown; the rows stay, the window is going anyway.
void CTarvexCentrixDlg::CloseAllClients() {
  for (ClientTable* table : {&m_clients, &m_clients2}) {
    for (auto& [handle, member] : *table) member->pSocket->Close();
    table->clear();
  }
}
