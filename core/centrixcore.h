#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

#include "core/log/activitylistmodel.h"
#include "core/log/dailylogfile.h"
#include "core/relay/clientrelay.h"
#include "core/telephony/accountslot.h"
#include "core/telephony/reportlistmodel.h"
#include "core/telephony/tasbaseopenapictrl1.h"
#include "core/telephony/telbaseopenapi.h"

class CallDatabase;
class CallRecording;
class SettingsStore;

// What the relay core takes from its creator, so that tests can run it on
// temporary ports, directories and stores.
struct CoreContext {
  SettingsStore* settings = nullptr;
  // Where calls are recorded: the spool and its writer, or else straight
  // into the database on the event loop; neither: calls are not recorded.
  CallRecording* recording = nullptr;
  CallDatabase* database = nullptr;
  TelControlFactory telControlFactory;
  QString logDirectory;
  quint16 extPort = 8688;
  quint16 ldkPort = 5100;
  std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };
};

// The relay without a window: the accounts and their telephony controls,
// the call events, the client relay, the activity list and the daily log
// file, steered by the stored settings. The window watches it; headless it
// runs alone.
class CentrixCore : public QObject {
  Q_OBJECT
 public:
  explicit CentrixCore(CoreContext context, QObject* parent = nullptr);
  // Ends as the program does: log file closed, accounts signed out, clients closed.
  ~CentrixCore() override;

  // centrixcore.cpp: start-up and end.
  // Every start-up step in order; false when a telephony control could not be created.
  bool Start();
  // The 60 telephony controls through the factory; false when one cannot be created.
  bool CreateTelephonyControls();
  // Accounts and the operator's choices from the settings store.
  void ReadSettings();
  void StartListening() { m_relay.StartListening(); }
  // The hourly check of the log file's date.
  void StartLogRollover();
  bool IsLogRolloverActive() const { return m_timerLogRollover.isActive(); }
  void Shutdown();

  // accountsignin.cpp: account sign-in.
  void AutoLogin();
  void OnLoginResult(int controlId, const QString& text);
  void LogoutAll();
  // The communication-settings dialog's two outcomes for slot (0 to 59).
  void SignInAccount(int slot, const AccountSlot& entered);
  void SignOutAccount(int slot);

  // callevents.cpp: call events.
  void OnRing(int controlId, const QString& text);
  void OnHangUp(int controlId, const QString& text);
  void OnCallEnd(int controlId, const QString& text);
  // callinwrite.cpp
  void CallInWrite(const QByteArray& caller, const QByteArray& inboundTail,
                   const QByteArray& accountExt);
  // Calls waiting in the spool for the database.
  qint64 RecordsWaiting() const;

  // activity.cpp: activity list and log file.
  void InsertActivityLine(const QByteArray& text);
  void AppendActivityLine(const QByteArray& text);
  void TrimActivityList();
  void AppendLogLine(const QByteArray& text);
  void OpenLogFileAtStartup();
  void CheckLogFileDate();

  // The operator's choices; the window's data exchange reads and sets them.
  qint32 LogType() const { return m_nLogType; }
  void SetLogType(qint32 logType);
  qint32 SendType() const { return m_nSendType; }
  void SetSendType(qint32 sendType);
  qint32 ServerType() const { return m_nServerType; }
  void SetServerType(qint32 serverType) { m_nServerType = serverType; }
  qint32 CenterId() const { return m_nCenterId; }
  void SetCenterId(qint32 centerId) { m_nCenterId = centerId; }
  // The summary line of the latest ring (CP949).
  const QByteArray& Recent() const { return m_strRecent; }
  void SetRecent(const QByteArray& recent) { m_strRecent = recent; }
  const QByteArray& HostAddress() const { return m_relay.HostAddress(); }

  const AccountSlot& Account(int slot) const { return m_accounts[size_t(slot)]; }
  CTelBaseOpenApi* TelControl(int slot) const { return m_telControls[size_t(slot)].get(); }
  // The accounts list, 60 rows.
  ReportListModel& Accounts() { return m_listAccounts; }
  const ReportListModel& Accounts() const { return m_listAccounts; }
  ActivityListModel& Activity() { return m_listLog; }
  const ActivityListModel& Activity() const { return m_listLog; }
  ClientRelay& Relay() { return m_relay; }
  const ClientRelay& Relay() const { return m_relay; }
  const DailyLogFile& LogFile() const { return m_logFile; }

 signals:
  // The latest ring's summary line changed (CP949).
  void RecentCallChanged(const QByteArray& recent);
  // The listening sockets are up and the host's own address is known.
  void HostAddressKnown(const QByteArray& address);
  // The number of calls waiting to be recorded changed.
  void RecordsWaitingChanged(qint64 waiting);

 private:
  // Sign-in request of slot n for the current server type; FALSE when it could not be sent.
  bool SendSignIn(int slot, bool fromDialog);
  QDateTime Now() const { return m_context.clock(); }

  CoreContext m_context;
  std::array<AccountSlot, kTelControlCount> m_accounts;
  ReportListModel m_listAccounts;
  std::array<std::unique_ptr<CTelBaseOpenApi>, kTelControlCount> m_telControls;
  std::array<CTasbaseopenapictrl1, kTelControlCount> m_telControls2;
  ActivityListModel m_listLog;
  DailyLogFile m_logFile;
  QTimer m_timerLogRollover;
  ClientRelay m_relay;
  QByteArray m_strRecent;
  qint32 m_nLogType = 0;
  qint32 m_nServerType = 0;
  qint32 m_nSendType = 0;
  qint32 m_nCenterId = 0;
  bool m_bShutDown = false;
};

// "%H:%M:%S" of the given local time, for list columns and summary lines.
QByteArray TimeText(const QDateTime& time);
