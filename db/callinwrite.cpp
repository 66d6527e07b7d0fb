// The window's side of recording a call: the centre code, and a line for the
// operator when the call could not be recorded.
#include "db/calldatabase.h"
#include "telephony/cp949.h"
#include "ui/tarvexdlg.h"

void CTarvexCentrixDlg::CallInWrite(const QByteArray& caller, const QByteArray& inboundTail,
                                    const QByteArray& accountExt) {
  if (!m_context.database) return;
  if (m_context.database->CallInWrite(m_nCenterId, caller, inboundTail, accountExt)) return;
  InsertActivityLine(ToCp949(QStringLiteral("DB 기록 실패: ")) + caller + " => " + inboundTail +
                     "[" + accountExt + "]");
}
