#include "ui/tarvexdlg.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QEventLoop>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>

#include "core/config/messagepresenter.h"
#include "core/config/settingsstore.h"
#include "core/text/cp949.h"
#include "ui/aboutdlg.h"
#include "ui/dialogunits.h"
#include "ui/dlgsetport.h"

namespace {

constexpr int kTemplateWidth = 382;
// The template is 427 high, but its last 78 units hold only the hidden
// telephony controls: the window ends below the last visible row.
constexpr int kVisibleTemplateHeight = 349;

enum class Kind { Radio, ListView, MultiEdit, Static, Button, ListBox, DropList, CenteredEdit };

struct TemplateItem {
  int id;  // 0 for labels without an id
  Kind kind;
  const char* text;
  int x, y, width, height;
};

// Template 102 in template order.
const TemplateItem kTemplate[] = {
    {IDC_RADIO_LOG0, Kind::Radio, "수신번호", 46, 7, 48, 10},
    {IDC_RADIO_LOG1, Kind::Radio, "디버그", 97, 7, 36, 10},
    {IDC_RADIO_LOG2, Kind::Radio, "사용안함", 136, 7, 43, 10},
    {IDC_LIST_CLIENTS, Kind::ListView, "", 7, 41, 368, 90},
    {IDC_LIST_ACCOUNTS, Kind::ListView, "", 7, 133, 368, 77},
    {IDC_EDIT_RECENT, Kind::MultiEdit, "", 47, 327, 234, 15},
    {0, Kind::Static, "로그설정", 7, 9, 35, 8},
    {IDC_TEST3, Kind::Button, "TEST3", 331, 327, 44, 14},
    {IDC_TEST1, Kind::Button, "TEST1", 282, 327, 44, 14},
    {IDC_LIST_LOG, Kind::ListBox, "", 7, 213, 368, 110},
    {IDC_COMBO_SERVERTYPE, Kind::DropList, "", 327, 7, 48, 44},
    {0, Kind::Static, "서버타입", 290, 9, 33, 8},
    {0, Kind::Static, "전송타입", 189, 9, 33, 8},
    {IDC_COMBO_SENDTYPE, Kind::DropList, "", 225, 7, 59, 51},
    {0, Kind::Static, "최근정보", 7, 329, 33, 8},
    {0, Kind::Static, "회사코드", 7, 27, 33, 8},
    {IDC_EDIT_CENTERID, Kind::CenteredEdit, "", 43, 23, 61, 15},
    {IDC_BUTTON_SETCENTER, Kind::Button, "설정", 105, 23, 32, 15},
};

// A drop-down list's template height includes its open list; closed, it is one line.
constexpr int kClosedComboHeight = 12;

const char* const kServerTypes[] = {"Centrix", "DCS", "IMS", "IMS_DCS"};
const char* const kSendTypes[] = {"벨울릴때", "전화받을때", "항상(DB기록)"};

QByteArray Cp949(const char* utf8) { return ToCp949(QString::fromUtf8(utf8)); }

// A stored type past the list's end selects nothing.
void SelectItem(QComboBox* combo, int index) {
  combo->setCurrentIndex(index < combo->count() ? index : -1);
}

QTableView* MakeReportView(QWidget* parent, QAbstractItemModel* model) {
  auto* view = new QTableView(parent);
  view->setModel(model);
  view->setShowGrid(true);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->verticalHeader()->hide();
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
  view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  view->horizontalHeader()->setHighlightSections(false);
  return view;
}

}  // namespace

CTarvexCentrixDlg::CTarvexCentrixDlg(CentrixCore& core, MainWindowContext context, QWidget* parent)
    : QDialog(parent),
      m_hIcon(QStringLiteral(":/res/icon128.xpm")),
      m_core(core),
      m_context(std::move(context)) {
  setObjectName(QStringLiteral("dlg102"));
  setWindowTitle(QStringLiteral("MERVO"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(MainDialogFont());
  CreateControls();
  CreateTrayMenu();

  m_timerHideWindow.callOnTimeout(this, [this] { OnTimer(IDT_HIDE_WINDOW); });
  m_timerStartup.callOnTimeout(this, [this] { OnTimer(IDT_STARTUP); });
  connect(&m_trayIcon, &CTrayIcon::Activated, this, &CTarvexCentrixDlg::OnTrayNotify);
  connect(&m_core.Activity(), &ActivityLog::RecentCallChanged, this,
          [this](const QByteArray& recent) { m_editRecent->setPlainText(FromCp949(recent)); });
  connect(&m_core, &CentrixCore::HostAddressKnown, this,
          [this](const QByteArray& address) { setWindowTitle(QString::fromLatin1(address)); });
}

CTarvexCentrixDlg::~CTarvexCentrixDlg() = default;

void CTarvexCentrixDlg::CreateControls() {
  DialogUnits units(font());
  m_radioLogType = new QButtonGroup(this);
  for (const TemplateItem& item : kTemplate) {
    const QString text = QString::fromUtf8(item.text);
    QWidget* widget = nullptr;
    switch (item.kind) {
      case Kind::Radio: {
        auto* radio = new QRadioButton(text, this);
        m_radioLogType->addButton(radio, item.id - IDC_RADIO_LOG0);
        widget = radio;
        break;
      }
      case Kind::ListView: {
        auto* view = item.id == IDC_LIST_CLIENTS ? MakeReportView(this, &m_core.Relay().Clients())
                                                 : MakeReportView(this, &m_core.Accounts().List());
        (item.id == IDC_LIST_CLIENTS ? m_viewClients : m_viewAccounts) = view;
        widget = view;
        break;
      }
      case Kind::MultiEdit:
        m_editRecent = new QPlainTextEdit(this);
        m_editRecent->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        widget = m_editRecent;
        break;
      case Kind::Static:
        widget = new QLabel(text, this);
        break;
      case Kind::Button:
        widget = new QPushButton(text, this);
        break;
      case Kind::ListBox:
        m_viewLog = new QListView(this);
        m_viewLog->setModel(&m_core.Activity().List());
        m_viewLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_viewLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // One text line per row, as in a list box; without this the view
        // measures every line again whenever one is added.
        m_viewLog->setUniformItemSizes(true);
        widget = m_viewLog;
        break;
      case Kind::DropList: {
        auto* combo = new QComboBox(this);
        if (item.id == IDC_COMBO_SERVERTYPE) {
          for (const char* item : kServerTypes) combo->addItem(QString::fromUtf8(item));
          m_comboServerType = combo;
        } else {
          for (const char* item : kSendTypes) combo->addItem(QString::fromUtf8(item));
          m_comboSendType = combo;
        }
        widget = combo;
        break;
      }
      case Kind::CenteredEdit:
        m_editCenterId = new QLineEdit(this);
        m_editCenterId->setAlignment(Qt::AlignCenter);
        widget = m_editCenterId;
        break;
    }
    const int height = item.kind == Kind::DropList ? kClosedComboHeight : item.height;
    units.Place(widget, item.id, QRect(item.x, item.y, item.width, height));
    if (item.id != 0) m_controlsById[item.id] = widget;
  }
  units.FitContents();
  m_layoutScale = units.Scale();
  setFixedSize(units.ToPixels(0, 0, kTemplateWidth, kVisibleTemplateHeight).size());

  connect(m_radioLogType, &QButtonGroup::idClicked, this, &CTarvexCentrixDlg::OnLogTypeClicked);
  connect(m_comboServerType, &QComboBox::activated, this, &CTarvexCentrixDlg::OnServerTypeChanged);
  connect(m_comboSendType, &QComboBox::activated, this, &CTarvexCentrixDlg::OnSendTypeChanged);
  connect(static_cast<QPushButton*>(GetDlgItem(IDC_BUTTON_SETCENTER)), &QPushButton::clicked, this,
          &CTarvexCentrixDlg::OnSetCenterId);
  for (int id : {IDC_TEST1, IDC_TEST3}) {
    connect(static_cast<QPushButton*>(GetDlgItem(id)), &QPushButton::clicked, this,
            [this, id] { OnCommand(id); });
  }
  connect(
      m_viewAccounts, &QAbstractItemView::doubleClicked, this,
      [this](const QModelIndex& index) { OnDblClkAccounts(index.isValid() ? index.row() : -1); });
}

void CTarvexCentrixDlg::CreateTrayMenu() {
  m_trayMenu = new QMenu(QStringLiteral("메뉴"), this);
  const auto add = [this](int id, const char* text) {
    QAction* action = m_trayMenu->addAction(QString::fromUtf8(text));
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
  };
  add(ID_OPEN_SERVER, "CTI 서버 열기(&O)");
  add(ID_SET_PORT, "통신 포트 설정(&S)");
  m_trayMenu->addSeparator();
  add(ID_EXIT, "프로그램 종료(&X)");
}

// Not QDialog::exec(): its loop also ends when the window is hidden, and
// minimising hides it. This loop ends only when done() finishes the run.
int CTarvexCentrixDlg::DoModal() {
  if (!OnInitDialog()) return -1;
  QEventLoop modalLoop;
  connect(this, &QDialog::finished, &modalLoop, &QEventLoop::quit);
  show();
  modalLoop.exec();
  return result();
}

bool CTarvexCentrixDlg::OnInitDialog() {
  UpdateData(false);

  m_systemMenu = new QMenu(this);
  m_systemMenu->addSeparator();
  QAction* about = m_systemMenu->addAction(QStringLiteral("Tarvex 정보(&A)..."));
  about->setData(int(IDM_ABOUTBOX));
  connect(about, &QAction::triggered, this, [this] { OnCommand(IDM_ABOUTBOX); });
  setWindowIcon(m_hIcon);

  SetupListColumns();
  if (!m_core.Start()) return false;

  // Without a notification area the relay still needs its timers, its log
  // file and its settings shown; only the icon is missing.
  if (m_trayIcon.Create(this, m_core.Relay().HostAddress(), 128)) m_trayIcon.SetIcon(m_hIcon);

  m_timerStartup.start(100);
  UpdateData(false);
  return true;
}

// The widths the core's lists give their columns.
void CTarvexCentrixDlg::SetupListColumns() {
  const double scale = m_layoutScale;
  const auto setup = [scale](QTableView* view, const auto& columns) {
    // The lists grew with the rest of the window; so do their columns.
    for (size_t i = 0; i < std::size(columns); ++i) {
      view->setColumnWidth(int(i), int(std::lround(columns[i].width * scale)));
    }
  };
  setup(m_viewClients, ClientListModel::Columns());
  setup(m_viewAccounts, m_core.Accounts().List().Columns());
}

bool CTarvexCentrixDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    m_editRecent->setPlainText(FromCp949(m_core.Activity().Recent()));
    QAbstractButton* radio = m_radioLogType->button(m_core.LogType());
    if (radio) {
      radio->setChecked(true);
    } else {
      m_radioLogType->setExclusive(false);
      for (QAbstractButton* button : m_radioLogType->buttons()) button->setChecked(false);
      m_radioLogType->setExclusive(true);
    }
    SelectItem(m_comboServerType, m_core.ServerType());
    SelectItem(m_comboSendType, m_core.SendType());
    m_editCenterId->setText(QString::number(m_core.CenterId()));
    return true;
  }
  m_core.Activity().SetRecent(ToCp949(m_editRecent->toPlainText()));
  m_core.SetLogType(m_radioLogType->checkedId());
  m_core.SetServerType(m_comboServerType->currentIndex());
  m_core.SetSendType(m_comboSendType->currentIndex());
  bool ok = false;
  const qint32 centerId = m_editCenterId->text().trimmed().toInt(&ok);
  if (!ok) {
    m_context.presenter->Show(m_context.applicationName, "Enter an integer.", MessageButtons::Ok,
                              MessageIcon::Exclamation);
    m_editCenterId->setFocus();
    return false;
  }
  m_core.SetCenterId(centerId);
  return true;
}

void CTarvexCentrixDlg::OnLogTypeClicked(int logType) {
  m_core.SetLogType(logType);
  m_context.settings->WriteProfileInt(kLogTypeSetting, m_core.LogType());
}

void CTarvexCentrixDlg::OnServerTypeChanged() {
  m_core.SetServerType(m_comboServerType->currentIndex());
  m_context.settings->WriteProfileInt(kServerTypeSetting, m_core.ServerType());
}

void CTarvexCentrixDlg::OnSendTypeChanged() {
  m_core.SetSendType(m_comboSendType->currentIndex());
  m_context.settings->WriteProfileInt(kSendTypeSetting, m_core.SendType());
}

void CTarvexCentrixDlg::OnSetCenterId() {
  UpdateData(true);
  m_context.settings->WriteProfileInt(kCenterIdSetting, m_core.CenterId());
}

void CTarvexCentrixDlg::OnDblClkAccounts(int item) {
  if (item < 0 || item >= kTelControlCount) return;
  const AccountSlot& account = m_core.Accounts().Account(item);
  CDlgSetPort dialog(this);
  dialog.m_nSlot = item + 1;
  dialog.m_strID = account.m_strUID;
  dialog.m_strPWD = account.m_strPWD;
  dialog.m_strIP = account.m_strServerIP;
  const int result =
      m_context.runSetPortDialog ? m_context.runSetPortDialog(dialog) : dialog.DoModal();

  if (result == kSetPortSignIn) {
    AccountSlot entered;
    entered.m_strUID = dialog.m_strID;
    entered.m_strPWD = dialog.m_strPWD;
    entered.m_strServerIP = dialog.m_strIP;
    m_core.Accounts().SignInAccount(item, entered);
  } else if (result == kSetPortSignOut) {
    m_core.Accounts().SignOutAccount(item);
  }
}

void CTarvexCentrixDlg::OnCommand(int commandId) {
  switch (commandId) {
    case IDM_ABOUTBOX:
      ShowAboutBox();
      break;
    case ID_OPEN_SERVER:
      showNormal();
      break;
    case ID_EXIT:
      // Straight to the exit question: a close event on a hidden dialog is
      // accepted without asking anything.
      OnCancel();
      break;
    default:  // 132, 1007, TEST1, TEST3: no action
      break;
  }
}

void CTarvexCentrixDlg::ShowAboutBox() {
  CAboutDlg about(m_hIcon, this);
  about.exec();
}

bool CTarvexCentrixDlg::AskExitQuestion() {
  return m_context.presenter->Show(m_context.applicationName, Cp949("프로그램을 종료 하시겠습니까"),
                                   MessageButtons::YesNo,
                                   MessageIcon::Question) == MessageAnswer::Yes;
}

void CTarvexCentrixDlg::OnOK() {
  if (AskExitQuestion() && UpdateData(true)) QDialog::accept();
}

void CTarvexCentrixDlg::OnCancel() {
  if (AskExitQuestion()) QDialog::reject();
}

void CTarvexCentrixDlg::accept() { OnOK(); }

void CTarvexCentrixDlg::reject() { OnCancel(); }

void CTarvexCentrixDlg::EndWithoutAsking() { done(QDialog::Rejected); }

void CTarvexCentrixDlg::OnTimer(int timerId) {
  switch (timerId) {
    case IDT_HIDE_WINDOW:
      m_timerHideWindow.stop();
      hide();
      break;
    case IDT_STARTUP:
      m_timerStartup.stop();
      break;
    default:
      break;
  }
}

void CTarvexCentrixDlg::OnTrayNotify(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::Context) {
    const QPoint pointer = QCursor::pos();
    activateWindow();
    // Right edge at the pointer, top at its height.
    m_trayMenu->popup(pointer - QPoint(m_trayMenu->sizeHint().width(), 0));
  } else if (reason == QSystemTrayIcon::DoubleClick) {
    showNormal();
  }
}

void CTarvexCentrixDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      OnOK();
      break;
    case Qt::Key_Escape:
      OnCancel();
      break;
    default:
      QDialog::keyPressEvent(event);
  }
}

// Minimising hides the window; it comes back through the icon in its normal state.
void CTarvexCentrixDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    hide();
  }
}

void CTarvexCentrixDlg::contextMenuEvent(QContextMenuEvent* event) {
  if (m_systemMenu && !m_systemMenu->isEmpty()) m_systemMenu->popup(event->globalPos());
}

QWidget* CTarvexCentrixDlg::GetDlgItem(int id) const {
  const auto it = m_controlsById.find(id);
  return it == m_controlsById.end() ? nullptr : it->second;
}

bool CTarvexCentrixDlg::IsTimerActive(int timerId) const {
  switch (timerId) {
    case IDT_HIDE_WINDOW:
      return m_timerHideWindow.isActive();
    case IDT_STARTUP:
      return m_timerStartup.isActive();
    case IDT_LOG_ROLLOVER:
      return m_core.Activity().IsLogRolloverActive();
    default:
      return false;
  }
}
