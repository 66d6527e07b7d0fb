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
#include <cstdio>

#include "app/messagepresenter.h"
#include "app/settingsstore.h"
#include "telephony/cp949.h"
#include "ui/aboutdlg.h"
#include "ui/dialogunits.h"
#include "ui/headless.h"
#include "ui/logline.h"

namespace {

constexpr int kTemplateWidth = 382;
// The template is 427 high, but its last 78 units hold only the hidden
// telephony controls: the window ends below the last visible row.
constexpr int kVisibleTemplateHeight = 349;
constexpr int kHourMs = 3600000;

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

struct ColumnItem {
  const char* header;
  int width;
};
const ColumnItem kClientColumns[] = {{"내선", 70}, {"IP", 90}, {"ID", 60}, {"전화", 100}};
const ColumnItem kAccountColumns[] = {{"NO", 30},       {"ID", 90},        {"PWD", 90},
                                      {"내선번호", 60}, {"수신시간", 100}, {"작업내용", 150}};

QByteArray Cp949(const char* utf8) { return ToCp949(QString::fromUtf8(utf8)); }

// A stored type past the list's end selects nothing.
void SelectItem(QComboBox* combo, int index) {
  combo->setCurrentIndex(index < combo->count() ? index : -1);
}

QTableView* MakeReportView(QWidget* parent, ReportListModel* model) {
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

CTarvexCentrixDlg::CTarvexCentrixDlg(MainWindowContext context, QWidget* parent)
    : QDialog(parent),
      m_hIcon(QStringLiteral(":/res/icon128.xpm")),
      m_logFile(context.logDirectory),
      m_context(std::move(context)) {
  setObjectName(QStringLiteral("dlg102"));
  setWindowTitle(QStringLiteral("MERVO"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(MainDialogFont());
  if (IsHeadless()) {
    // Nobody sees an offscreen window; painting it cost more than a notice's relay.
    setUpdatesEnabled(false);
    m_listLog.SetMirror([](const QByteArray& line) {
      std::fprintf(stderr, "%s\n", JournalLine(line).constData());
      std::fflush(stderr);
    });
  }
  CreateControls();
  CreateTrayMenu();

  m_timerHideWindow.callOnTimeout(this, [this] { OnTimer(IDT_HIDE_WINDOW); });
  m_timerStartup.callOnTimeout(this, [this] { OnTimer(IDT_STARTUP); });
  m_timerLogRollover.callOnTimeout(this, [this] { OnTimer(IDT_LOG_ROLLOVER); });
  connect(&m_trayIcon, &CTrayIcon::Activated, this, &CTarvexCentrixDlg::OnTrayNotify);
  connect(&m_serverSocket, &QTcpServer::newConnection, this, &CTarvexCentrixDlg::OnSocketAccept);
  connect(&m_serverSocket2, &QTcpServer::newConnection, this, &CTarvexCentrixDlg::OnSocketAccept2);
}

CTarvexCentrixDlg::~CTarvexCentrixDlg() { OnDestroy(); }

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
        auto* model = item.id == IDC_LIST_CLIENTS ? &m_listClients : &m_listAccounts;
        auto* view = MakeReportView(this, model);
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
        m_viewLog->setModel(&m_listLog);
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

// The telephony controls of the first kind, ids 1028 to 1087, not visible.
bool CTarvexCentrixDlg::CreateTelephonyControls() {
  for (int slot = 0; slot < kTelControlCount; ++slot) {
    auto control = m_context.telControlFactory
                       ? m_context.telControlFactory(kFirstTelControlId + slot)
                       : nullptr;
    if (!control) return false;
    connect(control.get(), &CTelBaseOpenApi::LoginResult, this, &CTarvexCentrixDlg::OnLoginResult);
    connect(control.get(), &CTelBaseOpenApi::Ring, this, &CTarvexCentrixDlg::OnRing);
    connect(control.get(), &CTelBaseOpenApi::HangUp, this, &CTarvexCentrixDlg::OnHangUp);
    connect(control.get(), &CTelBaseOpenApi::CallEnd, this, &CTarvexCentrixDlg::OnCallEnd);
    m_telControls[size_t(slot)] = std::move(control);
  }
  return true;
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
  if (!CreateTelephonyControls()) return -1;
  OnInitDialog();
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

  SettingsStore& settings = *m_context.settings;
  for (int n = 1; n <= kTelControlCount; ++n) {
    AccountSlot& slot = m_accounts[size_t(n - 1)];
    slot.m_strUID = settings.GetProfileString(QStringLiteral("UID%1").arg(n), {});
    slot.m_strPWD = settings.GetProfileString(QStringLiteral("PWD%1").arg(n), {});
    slot.m_strServerIP = settings.GetProfileString(QStringLiteral("SERVERIP%1").arg(n), {});
  }
  m_nServerType = settings.GetProfileInt(QStringLiteral("SERVERTYPE"), 0);
  m_nLogType = settings.GetProfileInt(QStringLiteral("LOGTYPE"), 0);
  m_nSendType = settings.GetProfileInt(QStringLiteral("SENDTYPE"), 0);
  m_nCenterId = settings.GetProfileInt(QStringLiteral("CENTERID"), 0);

  SetupListColumns();
  AutoLogin();
  StartListening();

  // Without a notification area the relay still needs its timers, its log
  // file and its settings shown; only the icon is missing.
  if (m_trayIcon.Create(this, m_strHostAddress, 128)) m_trayIcon.SetIcon(m_hIcon);

  m_timerStartup.start(100);
  OpenLogFileAtStartup();
  m_timerLogRollover.start(kHourMs);
  UpdateData(false);
  return true;
}

void CTarvexCentrixDlg::SetupListColumns() {
  const double scale = m_layoutScale;
  const auto setup = [scale](ReportListModel& model, QTableView* view, const auto& columns) {
    for (const ColumnItem& column : columns) model.InsertColumn(Cp949(column.header), column.width);
    // The lists grew with the rest of the window; so do their columns.
    for (size_t i = 0; i < std::size(columns); ++i) {
      view->setColumnWidth(int(i), int(std::lround(columns[i].width * scale)));
    }
  };
  setup(m_listClients, m_viewClients, kClientColumns);
  setup(m_listAccounts, m_viewAccounts, kAccountColumns);
}

bool CTarvexCentrixDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    m_editRecent->setPlainText(FromCp949(m_strRecent));
    QAbstractButton* radio = m_radioLogType->button(m_nLogType);
    if (radio) {
      radio->setChecked(true);
    } else {
      m_radioLogType->setExclusive(false);
      for (QAbstractButton* button : m_radioLogType->buttons()) button->setChecked(false);
      m_radioLogType->setExclusive(true);
    }
    SelectItem(m_comboServerType, m_nServerType);
    SelectItem(m_comboSendType, m_nSendType);
    m_editCenterId->setText(QString::number(m_nCenterId));
    return true;
  }
  m_strRecent = ToCp949(m_editRecent->toPlainText());
  m_nLogType = m_radioLogType->checkedId();
  m_nServerType = m_comboServerType->currentIndex();
  m_nSendType = m_comboSendType->currentIndex();
  bool ok = false;
  const qint32 centerId = m_editCenterId->text().trimmed().toInt(&ok);
  if (!ok) {
    m_context.presenter->Show(this, m_context.applicationName, "Enter an integer.",
                              MessageButtons::Ok, MessageIcon::Exclamation);
    m_editCenterId->setFocus();
    return false;
  }
  m_nCenterId = centerId;
  return true;
}

void CTarvexCentrixDlg::OnLogTypeClicked(int logType) {
  m_nLogType = logType;
  m_context.settings->WriteProfileInt(QStringLiteral("LOGTYPE"), m_nLogType);
}

void CTarvexCentrixDlg::OnServerTypeChanged() {
  m_nServerType = m_comboServerType->currentIndex();
  m_context.settings->WriteProfileInt(QStringLiteral("SERVERTYPE"), m_nServerType);
}

void CTarvexCentrixDlg::OnSendTypeChanged() {
  m_nSendType = m_comboSendType->currentIndex();
  m_context.settings->WriteProfileInt(QStringLiteral("SENDTYPE"), m_nSendType);
}

void CTarvexCentrixDlg::OnSetCenterId() {
  UpdateData(true);
  m_context.settings->WriteProfileInt(QStringLiteral("CENTERID"), m_nCenterId);
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
  return m_context.presenter->Show(this, m_context.applicationName,
                                   Cp949("프로그램을 종료 하시겠습니까"), MessageButtons::YesNo,
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
    case IDT_LOG_ROLLOVER:
      CheckLogFileDate();
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

void CTarvexCentrixDlg::OnDestroy() {
  m_logFile.Close();
  LogoutAll();
  CloseAllClients();
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
      return m_timerLogRollover.isActive();
    default:
      return false;
  }
}

QByteArray CTarvexCentrixDlg::TimeText(const QDateTime& time) {
  return time.toString(QStringLiteral("HH:mm:ss")).toLatin1();
}
