// An extension connection that never registers holds a descriptor for nothing.
#include "core/relay/clientrelay.h"
#include "core/text/cp949.h"

void ClientRelay::OnRegisterDeadline(CClientSocket* client) {
  const MEMBER* member = m_registry.Find(client);
  if (!member || member->registeredAt != 0) return;
  m_throttle.Report(kLateLine, member->host,
                    member->host + ToCp949(QStringLiteral(" 클라이언트가 %1초 안에 등록하지 "
                                                          "않아 연결을 끊었습니다.")
                                               .arg(m_registerWaitMs / 1000)));
  OnSocketClose(client, kExtensionClient);
}
