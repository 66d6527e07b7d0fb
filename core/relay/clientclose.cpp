// A client's connection ends: its rows, its entry and its socket go.
#include "core/relay/clientrelay.h"

void ClientRelay::OnSocketClose(CClientSocket* client, int kind) {
  MEMBER* member = m_registry.Find(client);
  if (!member) return;
  if (kind != kLdkClient) m_registry.ReleaseRows(*member);
  client->Close();
  m_admission.Left(member->host);
  // The close may be reported from inside the client's own notification:
  // its object goes once that has returned (the registry's deleter).
  m_registry.Erase(client);
  m_acceptPause.TryResume();  // its descriptor is free again
}

// At shutdown; the rows stay, the relay is going anyway.
void ClientRelay::CloseAllClients() {
  for (const int kind : {kExtensionClient, kLdkClient}) {
    for (auto& [id, member] : m_registry.Table(kind)) {
      member->pSocket->Close();
      m_admission.Left(member->host);
    }
  }
  m_registry.EraseAll();
}
