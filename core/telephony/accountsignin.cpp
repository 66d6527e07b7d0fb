// Signing the accounts in and out: at start-up, through the communication
// settings dialog, on the login result and at the end.
#include "core/centrixcore.h"
#include "core/config/settingsstore.h"
#include "core/config/settingtypes.h"
#include "core/telephony/accountrow.h"
#include "core/text/cp949.h"
#include "core/text/eventtext.h"

namespace {

// The extension number is the tail of the login result's message.
constexpr qsizetype kExtensionDigits = 3;

// A control that was never created does nothing and yields FALSE.
bool IsSignedIn(CTelBaseOpenApi* control) { return control && control->IsLoggedIn(); }

void SignOut(CTelBaseOpenApi* control) {
  if (control) control->Logout();
}

void WriteAccountSettings(SettingsStore& settings, int slotNumber, const AccountSlot& account) {
  settings.WriteProfileString(QStringLiteral("UID%1").arg(slotNumber), account.m_strUID);
  settings.WriteProfileString(QStringLiteral("PWD%1").arg(slotNumber), account.m_strPWD);
  settings.WriteProfileString(QStringLiteral("ServerIP%1").arg(slotNumber), account.m_strServerIP);
}

QByteArray FailureReason(qint32 code) {
  switch (code) {
    case -1:
      return "NotFound";
    case -2:
      return "PasswdErr";
    default:
      return ToCp949(QStringLiteral("기타"));
  }
}

}  // namespace

// IMS and IMS_DCS go to the controls of the second kind, which are never
// created, so their requests always count as refused.
bool CentrixCore::SendSignIn(int slot, bool fromDialog) {
  const AccountSlot& account = m_accounts[size_t(slot)];
  CTelBaseOpenApi* control = m_telControls[size_t(slot)].get();
  CTasbaseopenapictrl1& second = m_telControls2[size_t(slot)];
  switch (m_nServerType) {
    case kServerCentrix:
      return control && control->Login(account.m_strUID, account.m_strPWD, account.m_strServerIP);
    case kServerDcs:
      return control &&
             control->LoginDCS(account.m_strUID, account.m_strPWD, account.m_strServerIP);
    case kServerIms:
      return second.Login(account.m_strUID, account.m_strPWD, account.m_strServerIP);
    case kServerImsDcs:
      return fromDialog
                 ? second.Login(account.m_strUID, account.m_strPWD, account.m_strServerIP)
                 : second.LoginDCS(account.m_strUID, account.m_strPWD, account.m_strServerIP);
    default:  // an edited settings store: no server to address
      return false;
  }
}

void CentrixCore::AutoLogin() {
  for (int n = 0; n < kTelControlCount; ++n) {
    const AccountSlot& account = m_accounts[size_t(n)];
    const int row = m_listAccounts.InsertItem(n, QByteArray::number(n + 1));
    m_listAccounts.SetItemText(row, kColumnId, account.m_strUID);
    m_listAccounts.SetItemText(row, kColumnPassword, account.m_strPWD);
    if (account.m_strUID.isEmpty() || account.m_strPWD.isEmpty()) continue;

    if (m_nServerType == kServerIms) {
      if (m_telControls2[size_t(n)].IsLoggedIn()) m_telControls2[size_t(n)].Logout();
    } else if (IsSignedIn(m_telControls[size_t(n)].get())) {
      m_telControls[size_t(n)]->Logout();
    }
    const bool sent = SendSignIn(n, false);
    m_listAccounts.SetItemText(row, kColumnTime, TimeText(Now()));
    if (!sent)
      m_listAccounts.SetItemText(row, kColumnStatus, ToCp949(QStringLiteral("로그인 실패")));
  }
}

void CentrixCore::SignInAccount(int slot, const AccountSlot& entered) {
  AccountSlot& account = m_accounts[size_t(slot)];
  account.m_strUID = entered.m_strUID;
  account.m_strPWD = entered.m_strPWD;
  account.m_strServerIP = entered.m_strServerIP;
  // Stored before sending, so a refused request still comes back at the next start.
  WriteAccountSettings(*m_context.settings, slot + 1, account);
  if (!SendSignIn(slot, true)) {
    m_listAccounts.SetItemText(slot, kColumnTime, TimeText(Now()));
    m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("로그인 에러")));
  }
}

void CentrixCore::SignOutAccount(int slot) {
  AccountSlot& account = m_accounts[size_t(slot)];
  account = AccountSlot{};
  WriteAccountSettings(*m_context.settings, slot + 1, account);
  if (m_nServerType == kServerIms) {
    m_telControls2[size_t(slot)].Logout();
  } else {
    SignOut(m_telControls[size_t(slot)].get());
  }
  m_listAccounts.SetItemText(slot, kColumnId, {});
  m_listAccounts.SetItemText(slot, kColumnPassword, {});
  m_listAccounts.SetItemText(slot, kColumnExtension, {});
  m_listAccounts.SetItemText(slot, kColumnTime, TimeText(Now()));
  m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("로그아웃")));
}

void CentrixCore::OnLoginResult(int controlId, const QString& text) {
  const int slot = SlotOfControl(controlId);
  if (slot < 0) return;
  AccountSlot& account = m_accounts[size_t(slot)];
  const QByteArray event = ToCp949(text);
  m_listAccounts.SetItemText(slot, kColumnId, account.m_strUID);
  m_listAccounts.SetItemText(slot, kColumnPassword, account.m_strPWD);
  m_listAccounts.SetItemText(slot, kColumnTime, TimeText(Now()));

  if (LoginSucceeded(event)) {
    m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("로그인 성공")));
    InsertActivityLine("[0]" + account.m_strUID + ToCp949(QStringLiteral(" - 로그인성공")));
  } else {
    m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("로그인 실패")));
    InsertActivityLine("[0] " + account.m_strUID + ToCp949(QStringLiteral(" - 로그인 실패(")) +
                       FailureReason(LoginStatus(event)) + ")");
    InsertActivityLine(event);  // the raw text shows above its failure line
  }

  // Taken whatever the outcome: a failed result without a message clears the extension.
  const QByteArray extension = LastBytes(GetEventField(event, "MSG", 1, ','), kExtensionDigits);
  account.m_nExtension = ParseLooseInt(extension);
  m_listAccounts.SetItemText(slot, kColumnExtension, extension);
}

void CentrixCore::LogoutAll() {
  for (const auto& control : m_telControls) {
    if (IsSignedIn(control.get())) control->Logout();
  }
}
