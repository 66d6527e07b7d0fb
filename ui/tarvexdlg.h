#pragma once

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QIcon>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTimer>
#include <functional>
#include <map>

#include "core/centrixcore.h"
#include "ui/trayicon.h"

class CDlgSetPort;
class MessagePresenter;
class SettingsStore;

// What the main window takes from its creator besides the core it shows.
struct MainWindowContext {
  QString applicationName;
  SettingsStore* settings = nullptr;
  MessagePresenter* presenter = nullptr;
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

// The main window: a view of the relay core and the operator's controls
// over it. It shows the core's models, forwards the operator's commands and
// settings, and follows the core's signals.
class CTarvexCentrixDlg : public QDialog {
  Q_OBJECT
 public:
  CTarvexCentrixDlg(CentrixCore& core, MainWindowContext context, QWidget* parent = nullptr);
  ~CTarvexCentrixDlg() override;

  // Runs the start-up steps and then the window modally; -1 when a telephony
  // control could not be created.
  int DoModal();
  // The window's and the core's start-up steps; false when a telephony
  // control could not be created.
  bool OnInitDialog();
  // Transfers between the core's values and the controls; false when the
  // centre code is refused.
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
  // The communication-settings dialog of one account row.
  void OnDblClkAccounts(int item);

  CentrixCore& Core() const { return m_core; }

  // Lookups for tests and tools: a control by its id, the icon, the menus.
  QWidget* GetDlgItem(int id) const;
  QMenu* TrayMenu() const { return m_trayMenu; }
  QMenu* SystemMenu() const { return m_systemMenu; }
  const CTrayIcon& TrayIcon() const { return m_trayIcon; }
  bool IsTimerActive(int timerId) const;
  // The factor by which the controls grew beyond the template so that their texts fit.
  double LayoutScale() const { return m_layoutScale; }

  QIcon m_hIcon;
  CTrayIcon m_trayIcon;
  QComboBox* m_comboServerType = nullptr;
  QComboBox* m_comboSendType = nullptr;
  QPlainTextEdit* m_editRecent = nullptr;

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
  bool AskExitQuestion();

  CentrixCore& m_core;
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
  std::map<int, QWidget*> m_controlsById;
  double m_layoutScale = 1.0;
};
