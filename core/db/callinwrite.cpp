// The relay's side of recording a call: the centre code, and a line for the
// operator when the call could not be recorded.
#include "core/centrixcore.h"
#include "core/db/calldatabase.h"
#include "core/text/cp949.h"

void CentrixCore::CallInWrite(const QByteArray& caller, const QByteArray& inboundTail,
                              const QByteArray& accountExt) {
  if (!m_context.database) return;
  if (m_context.database->CallInWrite(m_nCenterId, caller, inboundTail, accountExt)) return;
  InsertActivityLine(ToCp949(QStringLiteral("DB 기록 실패: ")) + caller + " => " + inboundTail +
                     "[" + accountExt + "]");
}
