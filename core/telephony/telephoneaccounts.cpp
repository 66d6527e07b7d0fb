#include "core/telephony/telephoneaccounts.h"

#include "core/config/settingsstore.h"
#include "core/config/settingtypes.h"
#include "core/log/logline.h"
#include "core/telephony/accountrow.h"
#include "core/telephony/calleventreader.h"
#include "core/text/cp949.h"
#include "core/text/eventtext.h"

namespace {

struct ColumnItem {
  const char* header;
  int width;
};
const ColumnItem kAccountColumns[] = {{"NO", 30},       {"ID", 90},        {"PWD", 90},
                                      {"내선번호", 60}, {"수신시간", 100}, {"작업내용", 150}};

// The extension number is the tail of the login result's message.
constexpr qsizetype kExtensionDigits = 3;

// A control that was never created does nothing and yields FALSE.
bool IsSignedIn(CTelBaseOpenApi* control) { return control && control->IsLoggedIn(); }

void SignOut(CTelBaseOpenApi* control) {
  if (control) control->Logout();
}

void WriteAccountSettings(SettingsStore& settings, int slotNumber, const AccountSlot& account) {
  settings.WriteProfileString(AccountIdKey(slotNumber), account.m_strUID);
  settings.WriteProfileString(AccountPasswordKey(slotNumber), account.m_strPWD);
  settings.WriteProfileString(AccountServerKey(slotNumber), account.m_strServerIP);
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

QByteArray TimeText(const QDateTime& time) { return ClockText(time.time()); }

}  // namespace

TelephoneAccounts::TelephoneAccounts(SettingsStore& settings, TelControlFactory factory,
                                     std::function<QDateTime()> clock, QObject* parent)
    : QObject(parent),
      m_settings(settings),
      m_factory(std::move(factory)),
      m_clock(std::move(clock)) {
  for (const ColumnItem& column : kAccountColumns) {
    m_listAccounts.InsertColumn(ToCp949(QString::fromUtf8(column.header)), column.width);
  }
}

// The telephony controls of the first kind, ids 1028 to 1087.
bool TelephoneAccounts::CreateTelephonyControls() {
  for (int slot = 0; slot < kTelControlCount; ++slot) {
    auto control = m_factory ? m_factory(kFirstTelControlId + slot) : nullptr;
    if (!control) return false;
    connect(control.get(), &CTelBaseOpenApi::LoginResult, this, &TelephoneAccounts::OnLoginResult);
    connect(control.get(), &CTelBaseOpenApi::Ring, this, &TelephoneAccounts::OnRing);
    connect(control.get(), &CTelBaseOpenApi::HangUp, this, &TelephoneAccounts::OnHangUp);
    connect(control.get(), &CTelBaseOpenApi::CallEnd, this, &TelephoneAccounts::OnCallEnd);
    m_telControls[size_t(slot)] = std::move(control);
  }
  return true;
}

void TelephoneAccounts::ReadSettings() {
  for (int n = 1; n <= kTelControlCount; ++n) {
    AccountSlot& slot = m_accounts[size_t(n - 1)];
    slot.m_strUID = m_settings.GetProfileString(AccountIdKey(n), {});
    slot.m_strPWD = m_settings.GetProfileString(AccountPasswordKey(n), {});
    slot.m_strServerIP = m_settings.GetProfileString(AccountServerKey(n), {});
  }
  m_nServerType = m_settings.GetProfileInt(kServerTypeSetting);
}

// IMS and IMS_DCS go to the controls of the second kind, which are never
// created, so their requests always count as refused.
bool TelephoneAccounts::SendSignIn(int slot, bool fromDialog) {
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

void TelephoneAccounts::AutoLogin() {
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

void TelephoneAccounts::SignInAccount(int slot, const AccountSlot& entered) {
  AccountSlot& account = m_accounts[size_t(slot)];
  account.m_strUID = entered.m_strUID;
  account.m_strPWD = entered.m_strPWD;
  account.m_strServerIP = entered.m_strServerIP;
  // Stored before sending, so a refused request still comes back at the next start.
  WriteAccountSettings(m_settings, slot + 1, account);
  if (!SendSignIn(slot, true)) {
    m_listAccounts.SetItemText(slot, kColumnTime, TimeText(Now()));
    m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("로그인 에러")));
  }
}

void TelephoneAccounts::SignOutAccount(int slot) {
  AccountSlot& account = m_accounts[size_t(slot)];
  account = AccountSlot{};
  WriteAccountSettings(m_settings, slot + 1, account);
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

void TelephoneAccounts::OnLoginResult(int controlId, const QString& text) {
  const int slot = SlotOfControl(controlId);
  if (slot < 0) return;
  AccountSlot& account = m_accounts[size_t(slot)];
  const QByteArray event = ToCp949(text);
  m_listAccounts.SetItemText(slot, kColumnId, account.m_strUID);
  m_listAccounts.SetItemText(slot, kColumnPassword, account.m_strPWD);
  m_listAccounts.SetItemText(slot, kColumnTime, TimeText(Now()));

  if (LoginSucceeded(event)) {
    m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("로그인 성공")));
    emit ActivityLine("[0]" + account.m_strUID + ToCp949(QStringLiteral(" - 로그인성공")));
  } else {
    m_listAccounts.SetItemText(slot, kColumnStatus, ToCp949(QStringLiteral("로그인 실패")));
    emit ActivityLine("[0] " + account.m_strUID + ToCp949(QStringLiteral(" - 로그인 실패(")) +
                      FailureReason(LoginStatus(event)) + ")");
    emit ActivityLine(event);  // the raw text shows above its failure line
  }

  // Taken whatever the outcome: a failed result without a message clears the extension.
  const QByteArray extension = LastBytes(GetEventField(event, "MSG", 1, ','), kExtensionDigits);
  account.m_nExtension = ParseLooseInt(extension);
  m_listAccounts.SetItemText(slot, kColumnExtension, extension);
}

bool TelephoneAccounts::IsSlotSignedIn(int slot) const { return IsSignedIn(TelControl(slot)); }

void TelephoneAccounts::LogoutAll() {
  for (const auto& control : m_telControls) {
    if (IsSignedIn(control.get())) control->Logout();
  }
}

void TelephoneAccounts::OnRing(int controlId, const QString& text) {
  const int slot = SlotOfControl(controlId);
  if (slot < 0) return;
  const std::optional<CallEvent> event =
      ReadRing(slot, m_accounts[size_t(slot)].m_nExtension, ToCp949(text), Now());
  if (event) emit CallEventRaised(*event);
}

void TelephoneAccounts::OnHangUp(int controlId, const QString& text) {
  const int slot = SlotOfControl(controlId);
  if (slot < 0) return;
  emit CallEventRaised(
      ReadAnswer(slot, m_accounts[size_t(slot)].m_nExtension, ToCp949(text), Now()));
}

void TelephoneAccounts::OnCallEnd(int controlId, const QString&) {
  const int slot = SlotOfControl(controlId);
  if (slot < 0) return;
  emit CallEventRaised(ReadCallEnd(slot, m_accounts[size_t(slot)].m_nExtension, Now()));
}

void TelephoneAccounts::Deliver(const CallEvent& event, const CallOutcome& outcome) {
  if (outcome.stampTime) m_listAccounts.SetItemText(event.slot, kColumnTime, TimeText(event.time));
  if (!outcome.accountStatus.isEmpty()) {
    m_listAccounts.SetItemText(event.slot, kColumnStatus, outcome.accountStatus);
  }
}
