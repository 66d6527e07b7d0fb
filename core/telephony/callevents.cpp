// The call events of the accounts: ringing, pick-up and call end turned into
// the account's row, activity and log lines, the call record and the notice.
#include "core/centrixcore.h"
#include "core/config/settingtypes.h"
#include "core/relay/callnotice.h"
#include "core/telephony/accountrow.h"
#include "core/text/cp949.h"
#include "core/text/eventtext.h"

namespace {

// Shorter callers (internal numbers) are shown but neither recorded nor relayed.
constexpr qsizetype kMaxLocalCallerLength = 8;
constexpr qsizetype kInboundTailLength = 4;
constexpr qsizetype kPeerExtensionLength = 3;

// "%s <kind>: %s => %s[%d]"; event values already end at their NUL.
QByteArray SummaryLine(const QByteArray& time, const char* kind, const QByteArray& caller,
                       const QByteArray& inbound, qint32 extension) {
  return time + ' ' + kind + ": " + caller + " => " + inbound + '[' +
         QByteArray::number(extension) + ']';
}

// What the call log gets at the given log level: the summary, the whole
// event text, or nothing (null).
const QByteArray* CallLogText(qint32 logType, const QByteArray& summary, const QByteArray& event) {
  switch (logType) {
    case kLogNumber:
      return &summary;
    case kLogDebug:
      return &event;
    default:
      return nullptr;
  }
}

CallNotice BuildNotice(qint32 accountExt, const QByteArray& inbound, const QByteArray& caller,
                       qint32 state) {
  return MakeCallNotice(accountExt, ParseLooseInt(LastBytes(inbound, kInboundTailLength)), caller,
                        state);
}

}  // namespace

void CentrixCore::OnRing(int controlId, const QString& text) {
  const int slot = SlotOfControl(controlId);
  if (slot < 0) return;
  const QByteArray event = ToCp949(text);
  if (GetEventField(event, "ISDIAL", 1, '|') == "1") return;  // the account dials itself

  const QByteArray time = TimeText(Now());
  m_listAccounts.SetItemText(slot, kColumnTime, time);
  m_listAccounts.SetItemText(slot, kColumnStatus, "Ring");
  const QByteArray caller = GetEventField(event, "CALLERID", 1, '|');
  const QByteArray inbound = GetEventField(event, "INEXTEN", 1, '|');
  const qint32 extension = m_accounts[size_t(slot)].m_nExtension;
  const QByteArray message = SummaryLine(time, "Ring", caller, inbound, extension);
  InsertActivityLine(message);
  m_strRecent = message;
  emit RecentCallChanged(m_strRecent);
  if (m_nSendType != kSendWhenAnswered) {
    if (const QByteArray* line = CallLogText(m_nLogType, message, event)) AppendLogLine(*line);
  }

  if (caller.size() <= kMaxLocalCallerLength) return;
  if (m_nCenterId > 0 && m_nSendType == kSendAlways) {
    CallInWrite(caller, LastBytes(inbound, kInboundTailLength), QByteArray::number(extension));
  }
  const CallNotice notice = BuildNotice(extension, inbound, caller, kCallStateRinging);
  if (m_nSendType == kSendWhenRinging || m_nSendType == kSendAlways)
    m_relay.BroadcastCallNotice(notice);
}

void CentrixCore::OnHangUp(int controlId, const QString& text) {
  const int slot = SlotOfControl(controlId);
  if (slot < 0) return;
  const QByteArray event = ToCp949(text);
  const qint32 extension = m_accounts[size_t(slot)].m_nExtension;
  const QByteArray peer = GetEventField(event, "CHANNEL1:SIP/", 0, '-');
  if (ParseLooseInt(LastBytes(peer, kPeerExtensionLength)) == extension) {
    // The account's own line is the channel's peer: a call it placed itself.
    m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("발신통화")));
    return;
  }

  const QByteArray caller = GetEventField(event, "CALLER1ID", 1, '|');
  const QByteArray inbound = GetEventField(event, "INEXTEN", 1, '|');
  const QByteArray time = TimeText(Now());
  m_listAccounts.SetItemText(slot, kColumnTime, time);
  m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("통화")));
  const QByteArray message = SummaryLine(time, "HangUp", caller, inbound, extension);
  InsertActivityLine(message);

  if (caller.size() > kMaxLocalCallerLength &&
      (m_nSendType == kSendWhenAnswered || m_nSendType == kSendAlways)) {
    m_relay.BroadcastCallNotice(BuildNotice(extension, inbound, caller, kCallStateAnswer));
  }
  if (m_nSendType != kSendWhenRinging) {
    if (const QByteArray* line = CallLogText(m_nLogType, message, event)) AppendLogLine(*line);
  }
  TrimActivityList();
}

void CentrixCore::OnCallEnd(int controlId, const QString&) {
  const int slot = SlotOfControl(controlId);
  if (slot < 0) return;
  m_listAccounts.SetItemText(slot, kColumnTime, TimeText(Now()));
  m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("통화종료")));
}
