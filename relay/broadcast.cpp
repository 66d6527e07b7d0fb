// A call notice to the clients: the record to every matching extension
// client, two text lines to every LDK505 client.
#include "relay/clientprotocol.h"
#include "telephony/cp949.h"
#include "ui/tarvexdlg.h"

#include <vector>

namespace {
constexpr qint32 kSendTypeAlways = 2;
}

void CTarvexCentrixDlg::BroadcastCallNotice(const CallNotice& notice) {
  if (notice.accountExt == 0) return;
  const QByteArray extension = QByteArray::number(notice.accountExt);

  const QByteArray record = EncodeCallNotice(notice);
  const QByteArray column = NoticeColumnText(notice);
  const bool everyRow = notice.state == kCallStateRinging && m_nSendType == kSendTypeAlways;
  std::vector<int> served;
  for (int row = 0; row < m_listClients.GetItemCount(); ++row) {
    if (!everyRow && Cp949Find(m_listClients.GetItemText(row, 0), extension) < 0) continue;
    const auto it = m_clients.find(LeadingInt(m_listClients.GetItemText(row, 2)));
    if (it == m_clients.end() || it->second->pSocket->IsDropped()) continue;
    it->second->pSocket->Send(record);
    served.push_back(row);
  }
  // One change for all served rows: with many clients, a view update per
  // row cost more than the sends.
  m_listClients.SetColumnText(served, 3, column);

  if (m_clients2.empty()) return;
  const QByteArray ringLine = LdkRingLine(notice);
  const QByteArray noticeLine = LdkNoticeLine(notice);
  for (auto& [handle, member] : m_clients2) {
    if (!member || member->pSocket->IsDropped()) continue;
    member->pSocket->Send(ringLine);
    AppendActivityLine(ringLine);
    member->pSocket->Send(noticeLine);
    AppendActivityLine(noticeLine);
  }
}
