// A client's text: a registration when it starts with a number other than 0.
#include "core/config/settingtypes.h"
#include "core/relay/clientprotocol.h"
#include "core/relay/clientrelay.h"
#include "core/text/cp949.h"

void ClientRelay::OnSocketReceive(CClientSocket* client, int kind) {
  const QByteArray text = ReceivedText(client->Receive(kMaxReceiveBytes));
  if (LeadingInt(text) == 0) {
    if (m_nLogType == kLogDebug) emit ActivityLine("Recv - " + text);
    return;
  }
  if (m_nLogType == kLogDebug) emit ActivityLine("Recv: " + text);

  // LDK505 clients are never filed.
  if (kind == kLdkClient) return;
  MEMBER* member = m_registry.Find(client);
  if (!member) return;
  const QByteArray filed = CutRegistrationText(text);
  if (m_registry.Register(*member, filed) == Registration::OverLimit) {
    m_throttle.Report(kOverLimitLine, member->host,
                      member->szIP +
                          ToCp949(QStringLiteral(" 클라이언트의 등록이 %1개를 넘어 받지 "
                                                 "않았습니다: ")
                                      .arg(ClientRegistry::kMaxRowsPerClient)) +
                          filed);
    return;
  }
  client->Send(RegisterAck());
}
