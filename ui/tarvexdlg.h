#pragma once

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QIcon>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTcpServer>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <memory>

#include "relay/acceptpause.h"
#include "relay/callnotice.h"
#include "relay/clientsocket.h"
#include "telephony/accountslot.h"
#include "telephony/tasbaseopenapictrl1.h"
#include "telephony/telbaseopenapi.h"
#include "ui/activitylistmodel.h"
#include "ui/dailylogfile.h"
#include "ui/reportlistmodel.h"
#include "ui/trayicon.h"

class CallDatabase;
class CDlgSetPort;
class MessagePresenter;
class SettingsStore;

// What the main window takes from its creator, so that tests can run it on
// temporary ports, directories and stores.
struct MainWindowContext {
  QString applicationName;
  SettingsStore* settings = nullptr;
  MessagePresenter* presenter = nullptr;
  CallDatabase* database = nullptr;
  TelControlFactory telControlFactory;
  QString logDirectory;
  quint16 extPort = 8688;
  quint16 ldkPort = 5100;
  std::function<QDateTime()> clock;
  // Runs the communication-settings dialog and returns its result; empty runs
  // it modally. Tests script the dialog through it.
  std::function<int(CDlgSetPort&)> runSetPortDialog;
};

// Control ids of the window.
enum ControlId {
  IDC_LIST_CLIENTS = 1000,
  IDC_LIST_ACCOUNTS = 1001,
  IDC_EDIT_RECENT = 1002,
  IDC_EDIT_CENTERID = 1003,
  IDC_TEST3 = 1023,
  IDC_TEST1 = 1024,
  IDC_RADIO_LOG0 = 1025,
  IDC_RADIO_LOG1 = 1026,
  IDC_RADIO_LOG2 = 1027,
  IDC_COMBO_SENDTYPE = 1088,
  IDC_BUTTON_SETCENTER = 1089,
  IDC_LIST_LOG = 1090,
  IDC_COMBO_SERVERTYPE = 1091,
};

// Commands of menu 129 and the window.
enum CommandId {
  IDM_ABOUTBOX = 0x0010,
  ID_EXIT = 130,
  ID_OPEN_SERVER = 131,
  ID_SET_PORT = 132,
  ID_NOTHING_1007 = 1007,
};

enum TimerId { IDT_HIDE_WINDOW = 100, IDT_STARTUP = 101, IDT_LOG_ROLLOVER = 102 };

// The main window: owner of every run-time object and receiver of every event.
class CTarvexCentrixDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CTarvexCentrixDlg(MainWindowContext context, QWidget* parent = nullptr);
  ~CTarvexCentrixDlg() override;

  // Runs the start-up steps and then the window modally; -1 when a telephony
  // control could not be created.
  int DoModal();
  // The 60 telephony controls through the factory; false when one cannot be created.
  bool CreateTelephonyControls();
  // Start-up steps after the controls exist; returns true as the framework expects.
  bool OnInitDialog();
  // Transfers between members and controls; false when the centre code is refused.
  bool UpdateData(bool saveAndValidate);
  // Ends the modal run without the exit question (SIGTERM, SIGINT).
  void EndWithoutAsking();

  // Handlers of the window's commands and controls.
  void OnCommand(int commandId);
  void OnLogTypeClicked(int logType);
  void OnServerTypeChanged();
  void OnSendTypeChanged();
  void OnSetCenterId();
  void OnOK();
  void OnCancel();
  void OnTimer(int timerId);
  void OnTrayNotify(QSystemTrayIcon::ActivationReason reason);
  void ShowAboutBox();

  // Activity display and log file.
  void InsertActivityLine(const QByteArray& text);
  void AppendActivityLine(const QByteArray& text);
  void TrimActivityList();
  void AppendLogLine(const QByteArray& text);
  void OpenLogFileAtStartup();
  void CheckLogFileDate();

  // Account sign-in.
  void AutoLogin();
  void OnDblClkAccounts(int item);
  void OnLoginResult(int controlId, const QString& text);
  void LogoutAll();

  // Call events.
  void OnRing(int controlId, const QString& text);
  void OnHangUp(int controlId, const QString& text);
  void OnCallEnd(int controlId, const QString& text);
  void CallInWrite(const QByteArray& caller, const QByteArray& inboundTail,
                   const QByteArray& accountExt);

  // Client relay.
  void StartListening();
  void OnSocketAccept();
  void OnSocketAccept2();
  void OnSocketReceive(CClientSocket* client, int kind);
  void OnSocketClose(CClientSocket* client, int kind);
  // A client over the bound of unsent data: an activity line, then removed as on close.
  void OnSocketOverflow(CClientSocket* client, int kind);
  void CloseAllClients();
  void BroadcastCallNotice(const CallNotice& notice);

  // Lookups for tests and tools: a control by its id, the icon, the menu.
  QWidget* GetDlgItem(int id) const;
  QMenu* TrayMenu() const { return m_trayMenu; }
  QMenu* SystemMenu() const { return m_systemMenu; }
  bool IsTimerActive(int timerId) const;
  // The factor by which the controls grew beyond the template so that their texts fit.
  double LayoutScale() const { return m_layoutScale; }

  // Members, named as the rest of the system names them.
  QIcon m_hIcon;
  QTcpServer m_serverSocket;
  QTcpServer m_serverSocket2;
  AcceptPause m_acceptPause{{&m_serverSocket, &m_serverSocket2},
                            [this](const QByteArray& line) { InsertActivityLine(line); }};
  std::array<AccountSlot, kTelControlCount> m_accounts;
  ReportListModel m_listClients;
  ReportListModel m_listAccounts;
  ClientSendBatch m_sendBatch;  // before the tables, which send through it
  ClientTable m_clients;
  ClientTable m_clients2;
  QByteArray m_strRecent;
  CTrayIcon m_trayIcon;
  QByteArray m_strHostAddress;
  qint32 m_nLogType = 0;
  DailyLogFile m_logFile;
  std::array<std::unique_ptr<CTelBaseOpenApi>, kTelControlCount> m_telControls;
  ActivityListModel m_listLog;
  QComboBox* m_comboServerType = nullptr;
  qint32 m_nServerType = 0;
  QComboBox* m_comboSendType = nullptr;
  qint32 m_nSendType = 0;
  QPlainTextEdit* m_editRecent = nullptr;
  qint32 m_nCenterId = 0;
  std::array<CTasbaseopenapictrl1, kTelControlCount> m_telControls2;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void reject() override;
  void accept() override;

 private:
  void CreateControls();
  void CreateTrayMenu();
  void SetupListColumns();
  void OnDestroy();
  // Sign-in request of slot n for the current server type; FALSE when it could not be sent.
  bool SendSignIn(int slot, bool fromDialog);
  bool AskExitQuestion();
  QDateTime Now() const { return m_context.clock(); }
  // "%H:%M:%S" of the given local time, for list columns and summary lines.
  static QByteArray TimeText(const QDateTime& time);

  MainWindowContext m_context;
  QTableView* m_viewClients = nullptr;
  QTableView* m_viewAccounts = nullptr;
  QListView* m_viewLog = nullptr;
  QButtonGroup* m_radioLogType = nullptr;
  QLineEdit* m_editCenterId = nullptr;
  QMenu* m_trayMenu = nullptr;
  QMenu* m_systemMenu = nullptr;
  QTimer m_timerHideWindow;
  QTimer m_timerStartup;
  QTimer m_timerLogRollover;
  std::map<int, QWidget*> m_controlsById;
  double m_layoutScale = 1.0;
};
