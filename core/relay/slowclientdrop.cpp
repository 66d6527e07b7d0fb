// A client that stopped reading is let go so that it cannot hold up the others.
#include "core/relay/clientrelay.h"
#include "core/text/cp949.h"

void ClientRelay::OnSocketOverflow(CClientSocket* client, int kind) {
  const MEMBER* member = m_registry.Find(client);
  if (!member) return;
  m_throttle.Report(
      kDroppedLine, member->host,
      member->szIP + ToCp949(QStringLiteral(" 클라이언트가 수신하지 않아 연결을 끊었습니다.")));
  OnSocketClose(client, kind);
}
