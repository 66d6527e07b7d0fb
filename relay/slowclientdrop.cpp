// A client that stopped reading is let go so that it cannot hold up the others.
#include "telephony/cp949.h"
#include "ui/tarvexdlg.h"

void CTarvexCentrixDlg::OnSocketOverflow(CClientSocket* client, int kind) {
  ClientTable& table = kind == kLdkClient ? m_clients2 : m_clients;
  const auto it = FindClient(table, client);
  if (it == table.end()) return;
  InsertActivityLine(it->second->szIP +
                     ToCp949(QStringLiteral(" 클라이언트가 수신하지 않아 연결을 끊었습니다.")));
  OnSocketClose(client, kind);
}
