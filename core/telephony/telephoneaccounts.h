#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <memory>

#include "core/callevent/calleventoutput.h"
#include "core/telephony/accountslot.h"
#include "core/telephony/reportlistmodel.h"
#include "core/telephony/tasbaseopenapictrl1.h"
#include "core/telephony/telbaseopenapi.h"

class SettingsStore;

// The 60 telephone accounts: their slots, their telephony controls, the
// server type they sign in with and the accounts list that shows them.
// Signs them in and out, and turns their controls' call events into
// CallEvent values; as an output it shows each event in the account's row.
class TelephoneAccounts : public QObject, public CallEventOutput {
  Q_OBJECT
 public:
  TelephoneAccounts(SettingsStore& settings, TelControlFactory factory,
                    std::function<QDateTime()> clock, QObject* parent = nullptr);

  // The 60 controls through the factory; false when one cannot be created.
  bool CreateTelephonyControls();
  // The accounts and the server type from the settings store.
  void ReadSettings();

  void AutoLogin();
  void OnLoginResult(int controlId, const QString& text);
  void LogoutAll();
  // The communication-settings dialog's two outcomes for slot (0 to 59).
  void SignInAccount(int slot, const AccountSlot& entered);
  void SignOutAccount(int slot);

  void OnRing(int controlId, const QString& text);
  void OnHangUp(int controlId, const QString& text);
  void OnCallEnd(int controlId, const QString& text);

  void Deliver(const CallEvent& event, const CallOutcome& outcome) override;

  qint32 ServerType() const { return m_nServerType; }
  void SetServerType(qint32 serverType) { m_nServerType = serverType; }
  const AccountSlot& Account(int slot) const { return m_accounts[size_t(slot)]; }
  CTelBaseOpenApi* TelControl(int slot) const { return m_telControls[size_t(slot)].get(); }
  bool IsSlotSignedIn(int slot) const;
  // The accounts list, 60 rows.
  ReportListModel& List() { return m_listAccounts; }
  const ReportListModel& List() const { return m_listAccounts; }

 signals:
  void CallEventRaised(const CallEvent& event);
  // A line for the top of the activity list (CP949).
  void ActivityLine(const QByteArray& line);

 private:
  // Sign-in request of slot n for the current server type; FALSE when it could not be sent.
  bool SendSignIn(int slot, bool fromDialog);
  QDateTime Now() const { return m_clock(); }

  SettingsStore& m_settings;
  TelControlFactory m_factory;
  std::function<QDateTime()> m_clock;
  std::array<AccountSlot, kTelControlCount> m_accounts;
  ReportListModel m_listAccounts;
  std::array<std::unique_ptr<CTelBaseOpenApi>, kTelControlCount> m_telControls;
  std::array<CTasbaseopenapictrl1, kTelControlCount> m_telControls2;
  qint32 m_nServerType = 0;
};
