// A call notice to the clients: the record to every matching extension
// client, two text lines to every LDK505 client.
#include "core/relay/clientprotocol.h"
#include "core/relay/clientrelay.h"

#include <vector>

void ClientRelay::Deliver(const CallEvent&, const CallOutcome& outcome) {
  if (outcome.notice) BroadcastCallNotice(*outcome.notice, outcome.noticeToEveryRow);
}

void ClientRelay::BroadcastCallNotice(const CallNotice& notice, bool everyRow) {
  if (notice.accountExt == 0) return;
  const QByteArray extension = QByteArray::number(notice.accountExt);

  const QByteArray record = EncodeCallNotice(notice);
  const QByteArray column = NoticeColumnText(notice);
  const std::vector<ClientRow>& rows = m_registry.Rows();
  std::vector<int> served;
  const auto serve = [&](int row) {
    MEMBER* owner = m_registry.Owner(rows[size_t(row)]);
    if (!owner || owner->pSocket->IsDropped()) return;
    owner->pSocket->Send(record);
    served.push_back(row);
  };
  if (everyRow) {
    for (int row = 0; row < int(rows.size()); ++row) serve(row);
  } else {
    for (const int row : m_registry.RowsNaming(extension)) serve(row);
  }
  // One change for all served rows: with many clients, a view update per
  // row cost more than the sends.
  m_registry.SetNoticeText(served, column);
  emit ExtensionNoticeSent(int(served.size()));

  const ClientTable& ldkClients = m_registry.Table(kLdkClient);
  if (!ldkClients.empty()) {
    const QByteArray ringLine = LdkRingLine(notice);
    const QByteArray noticeLine = LdkNoticeLine(notice);
    int sent = 0;
    for (const auto& [id, member] : ldkClients) {
      if (member->pSocket->IsDropped()) continue;
      member->pSocket->Send(ringLine);
      member->pSocket->Send(noticeLine);
      ++sent;
    }
    emit LdkNoticeSent(ringLine, noticeLine, sent);
  }
  // Not when the event loop's pass ends: in a burst of telephony events the
  // first notice must not wait for the last.
  m_sendBatch.FlushDue();
}
