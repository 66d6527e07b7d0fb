#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <cmath>

#include "core/text/cp949.h"
#include "support/faketelcontrol.h"
#include "support/testwindow.h"
#include "ui/aboutdlg.h"
#include "ui/dialogunits.h"
#include "ui/dlgsetport.h"

namespace {

QString Text(QWidget* widget) {
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  return {};
}

QStringList ComboItems(QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

template <typename Model>
QStringList Headers(const Model& model) {
  QStringList headers;
  for (const auto& column : model.Columns()) {
    headers << FromCp949(column.header) + ":" + QString::number(column.width);
  }
  return headers;
}

struct ExpectedControl {
  int id;
  const char* className;
  const char* text;
  int x, y, width, height;
};

TEST(MainWindow, HoldsEveryControlOfItsTemplateWithIdTextAndPlace) {
  const ExpectedControl expected[] = {
      {1025, "QRadioButton", "수신번호", 46, 7, 48, 10},
      {1026, "QRadioButton", "디버그", 97, 7, 36, 10},
      {1027, "QRadioButton", "사용안함", 136, 7, 43, 10},
      {1000, "QTableView", "", 7, 41, 368, 90},
      {1001, "QTableView", "", 7, 133, 368, 77},
      {1002, "QPlainTextEdit", "", 47, 327, 234, 15},
      {1023, "QPushButton", "TEST3", 331, 327, 44, 14},
      {1024, "QPushButton", "TEST1", 282, 327, 44, 14},
      {1090, "QListView", "", 7, 213, 368, 110},
      {1091, "QComboBox", "", 327, 7, 48, 12},
      {1088, "QComboBox", "", 225, 7, 59, 12},
      {1003, "QLineEdit", "", 43, 23, 61, 15},
      {1089, "QPushButton", "설정", 105, 23, 32, 15},
  };
  TestEnvironment environment;
  auto window = StartWindow(environment);
  // Grown evenly where the font needs it; the window ends below the last
  // visible row, above the hidden telephony controls.
  const DialogUnits units(window->font(), window->LayoutScale());
  EXPECT_GE(window->LayoutScale(), 1.0);
  EXPECT_EQ(window->size(), units.ToPixels(0, 0, 382, 349).size());
  for (const ExpectedControl& control : expected) {
    SCOPED_TRACE(control.id);
    QWidget* widget = window->GetDlgItem(control.id);
    ASSERT_NE(widget, nullptr);
    EXPECT_STREQ(widget->metaObject()->className(), control.className);
    EXPECT_EQ(Text(widget), QString::fromUtf8(control.text));
    EXPECT_EQ(widget->geometry(),
              units.ToPixels(control.x, control.y, control.width, control.height));
  }

  QStringList labels;
  for (QLabel* label : window->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    labels << label->text();
  }
  labels.sort();
  QStringList expectedLabels = {"로그설정", "서버타입", "전송타입", "최근정보", "회사코드"};
  expectedLabels.sort();
  EXPECT_EQ(labels, expectedLabels);
  EXPECT_EQ(window->windowTitle(), QString::fromLatin1(window->Core().Relay().HostAddress()));

  // The 60 hidden telephony controls, one per slot, ids 1028 to 1087.
  for (int slot = 0; slot < kTelControlCount; ++slot) {
    ASSERT_NE(window->Core().Accounts().TelControl(slot), nullptr);
    EXPECT_EQ(window->Core().Accounts().TelControl(slot)->ControlId(), 1028 + slot);
  }
}

// With whatever face stands in for the dialog font, every text is whole:
// labels and radio buttons at their preferred width, every item of a
// drop-down list, a push button's caption inside its frame.
TEST(MainWindow, NoDialogCutsOffAText) {
  TestEnvironment environment;
  auto window = StartWindow(environment);
  CAboutDlg about(window->m_hIcon, window.get());
  CDlgSetPort account(window.get());
  int checked = 0;
  for (QWidget* dialog : {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(&about),
                          static_cast<QWidget*>(&account)}) {
    for (QWidget* control : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      SCOPED_TRACE(dialog->objectName().toStdString() + " " + Text(control).toStdString());
      if (auto* button = qobject_cast<QPushButton*>(control)) {
        EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()),
                  button->contentsRect().width() - 8);
      } else if (qobject_cast<QLabel*>(control) || qobject_cast<QAbstractButton*>(control) ||
                 qobject_cast<QComboBox*>(control)) {
        EXPECT_LE(control->sizeHint().width(), control->width());
      } else {
        continue;
      }
      EXPECT_TRUE(dialog->rect().contains(control->geometry()));
      ++checked;
    }
  }
  EXPECT_EQ(checked, 13 + 3 + 5);
}

TEST(MainWindow, ListsHaveTheirColumnsAndDropDownListsTheirItems) {
  TestEnvironment environment;
  auto window = StartWindow(environment);
  EXPECT_EQ(Headers(window->Core().Relay().Clients()),
            QStringList({"내선:70", "IP:90", "ID:60", "전화:100"}));
  EXPECT_EQ(
      Headers(window->Core().Accounts().List()),
      QStringList({"NO:30", "ID:90", "PWD:90", "내선번호:60", "수신시간:100", "작업내용:150"}));
  EXPECT_EQ(ComboItems(window->m_comboServerType),
            QStringList({"Centrix", "DCS", "IMS", "IMS_DCS"}));
  EXPECT_EQ(ComboItems(window->m_comboSendType),
            QStringList({"벨울릴때", "전화받을때", "항상(DB기록)"}));
  ASSERT_EQ(window->Core().Accounts().List().GetItemCount(), 60);
  EXPECT_EQ(window->Core().Accounts().List().GetItemText(59, 0), "60");
}

// The window shows the core's lists and follows its news: the latest ring
// in the box below the lists, the host address as caption.
TEST(MainWindow, ShowsTheCoresListsAndFollowsItsSignals) {
  WindowEnvironment environment;
  FakeTelControls controls;
  auto window = environment.StartWindow(controls.Factory());
  ASSERT_TRUE(window);
  CentrixCore& core = window->Core();
  auto* clients = static_cast<QTableView*>(window->GetDlgItem(IDC_LIST_CLIENTS));
  auto* accounts = static_cast<QTableView*>(window->GetDlgItem(IDC_LIST_ACCOUNTS));
  auto* activity = static_cast<QListView*>(window->GetDlgItem(IDC_LIST_LOG));
  EXPECT_EQ(clients->model(), &core.Relay().Clients());
  EXPECT_EQ(accounts->model(), &core.Accounts().List());
  EXPECT_EQ(activity->model(), &core.Activity().List());
  for (int column = 0; column < 4; ++column) {
    EXPECT_EQ(
        clients->columnWidth(column),
        std::lround(ClientListModel::Columns()[size_t(column)].width * window->LayoutScale()));
  }
  EXPECT_EQ(window->windowTitle(), QString::fromLatin1(core.Relay().HostAddress()));

  controls[0].RaiseLoginResult(QStringLiteral("STATUS:1|MSG:ok 301,"));
  const QString dialled = QStringLiteral("ISDIAL:1|CALLERID:0212345678|INEXTEN:07012345678|");
  controls[0].RaiseRing(dialled);
  EXPECT_TRUE(window->m_editRecent->toPlainText().isEmpty());
  controls[0].RaiseRing(QStringLiteral("ISDIAL:0|CALLERID:0212345678|INEXTEN:07012345678|"));
  const QByteArray summary = "09:08:07 Ring: 0212345678 => 07012345678[301]";
  EXPECT_EQ(window->m_editRecent->toPlainText(), FromCp949(summary));
  EXPECT_EQ(activity->model()->index(0, 0).data().toString(), FromCp949(summary));
}

TEST(MainWindow, MenusHoldTheirCommandsInOrder) {
  TestEnvironment environment;
  auto window = StartWindow(environment);
  QStringList tray;
  for (QAction* action : window->TrayMenu()->actions()) {
    tray << (action->isSeparator()
                 ? QStringLiteral("-")
                 : QString::number(action->data().toInt()) + " " + action->text());
  }
  EXPECT_EQ(window->TrayMenu()->title(), QStringLiteral("메뉴"));
  EXPECT_EQ(tray, QStringList({"131 CTI 서버 열기(&O)", "132 통신 포트 설정(&S)", "-",
                               "130 프로그램 종료(&X)"}));

  const QList<QAction*> system = window->SystemMenu()->actions();
  ASSERT_EQ(system.size(), 2);
  EXPECT_TRUE(system[0]->isSeparator());
  EXPECT_EQ(system[1]->text(), QStringLiteral("Tarvex 정보(&A)..."));
  EXPECT_EQ(system[1]->data().toInt(), int(IDM_ABOUTBOX));
}

// Each way out asks the same question; No keeps everything, Yes ends the run.
TEST(MainWindow, ExitQuestionGuardsEveryWayOut) {
  const std::vector<std::pair<const char*, std::function<void(CTarvexCentrixDlg&)>>> paths = {
      {"Enter",
       [](CTarvexCentrixDlg& window) {
         QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
         QCoreApplication::sendEvent(&window, &key);
       }},
      {"Escape",
       [](CTarvexCentrixDlg& window) {
         QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
         QCoreApplication::sendEvent(&window, &key);
       }},
      {"close box", [](CTarvexCentrixDlg& window) { window.close(); }},
      {"menu exit", [](CTarvexCentrixDlg& window) { window.OnCommand(ID_EXIT); }},
      {"menu exit, window hidden",
       [](CTarvexCentrixDlg& window) {
         window.hide();
         window.OnCommand(ID_EXIT);
       }},
  };
  for (const auto& [name, leave] : paths) {
    for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
      SCOPED_TRACE(std::string(name) + (answer == MessageAnswer::Yes ? " Yes" : " No"));
      TestEnvironment environment;
      auto window = StartWindow(environment);
      window->show();
      int finished = 0;
      QObject::connect(window.get(), &QDialog::finished, [&finished] { ++finished; });
      environment.presenter.answers = {answer};
      leave(*window);
      ASSERT_EQ(environment.presenter.shown.size(), 1u);
      const auto& question = environment.presenter.shown.front();
      EXPECT_EQ(FromCp949(question.text), QStringLiteral("프로그램을 종료 하시겠습니까"));
      EXPECT_EQ(question.caption, TestEnvironment::ApplicationName());
      EXPECT_EQ(question.buttons, MessageButtons::YesNo);
      EXPECT_EQ(question.icon, MessageIcon::Question);
      EXPECT_EQ(finished, answer == MessageAnswer::Yes ? 1 : 0);
      EXPECT_TRUE(window->Core().Relay().Server(kLdkClient).isListening());
    }
  }
}

TEST(MainWindow, EnterWithACentreCodeThatIsNoIntegerStaysOpen) {
  TestEnvironment environment;
  auto window = StartWindow(environment);
  window->show();
  int finished = 0;
  QObject::connect(window.get(), &QDialog::finished, [&finished] { ++finished; });
  static_cast<QLineEdit*>(window->GetDlgItem(IDC_EDIT_CENTERID))->setText("12a");
  environment.presenter.answers = {MessageAnswer::Yes};
  window->OnOK();
  EXPECT_EQ(finished, 0);
  ASSERT_EQ(environment.presenter.shown.size(), 2u);
  EXPECT_EQ(environment.presenter.shown[1].text, QByteArray("Enter an integer."));
}

TEST(MainWindow, TestButtonsAndPortCommandDoNothing) {
  TestEnvironment environment;
  auto window = StartWindow(environment);
  window->show();
  static_cast<QAbstractButton*>(window->GetDlgItem(IDC_TEST1))->click();
  static_cast<QAbstractButton*>(window->GetDlgItem(IDC_TEST3))->click();
  window->OnCommand(ID_SET_PORT);
  window->OnCommand(ID_NOTHING_1007);
  EXPECT_TRUE(environment.presenter.shown.empty());
  EXPECT_TRUE(window->isVisible());
}

TEST(MainWindow, MinimisingHidesAndTheOpenCommandShowsAgain) {
  TestEnvironment environment;
  auto window = StartWindow(environment);
  window->show();
  const QSize size = window->size();
  window->setWindowState(Qt::WindowMinimized);
  EXPECT_FALSE(window->isVisible());
  window->OnCommand(ID_OPEN_SERVER);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isMinimized());
  EXPECT_EQ(window->size(), size);
}

// The run's own loop: hiding the window, by minimising or by the hide timer,
// leaves it running; only the end of the run ends it.
TEST(MainWindow, RunOutlastsHidingTheWindow) {
  TestEnvironment environment;
  CentrixCore core(environment.Context());
  CTarvexCentrixDlg window(core, WindowContext(environment));
  std::vector<bool> visibleAfterEachStep;
  const std::vector<std::function<void()>> steps = {
      [&] { window.setWindowState(Qt::WindowMinimized); },
      [&] { window.OnCommand(ID_OPEN_SERVER); },
      [&] { window.OnTimer(IDT_HIDE_WINDOW); },
      [&] { window.OnTrayNotify(QSystemTrayIcon::DoubleClick); },
      [&] { window.EndWithoutAsking(); },
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    QTimer::singleShot(int(20 * (i + 1)), &window, [&, i] {
      steps[i]();
      visibleAfterEachStep.push_back(window.isVisible());
    });
  }
  window.DoModal();
  EXPECT_EQ(visibleAfterEachStep, std::vector<bool>({false, true, false, true, false}));
  EXPECT_TRUE(environment.presenter.shown.empty());
}

TEST(MainWindow, IconClicksShowTheMenuOrTheWindow) {
  TestEnvironment environment;
  auto window = StartWindow(environment);
  window->hide();
  window->OnTrayNotify(QSystemTrayIcon::Trigger);  // a single left click
  EXPECT_FALSE(window->isVisible());
  window->OnTrayNotify(QSystemTrayIcon::Context);  // the right button
  EXPECT_TRUE(window->TrayMenu()->isVisible());
  EXPECT_FALSE(window->isVisible());
  window->TrayMenu()->hide();
  window->OnTrayNotify(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(window->isVisible());
  window->OnCommand(ID_OPEN_SERVER);  // already visible: nothing changes
  EXPECT_TRUE(window->isVisible());
}

TEST(MainWindow, StartsHeadlessWithLogFileAndTimersButNoIcon) {
  TestEnvironment environment;
  auto window = StartWindow(environment);
  EXPECT_FALSE(window->TrayIcon().IsShown());
  EXPECT_TRUE(window->Core().Activity().LogFile().IsOpen());
  EXPECT_TRUE(window->IsTimerActive(IDT_STARTUP));
  EXPECT_TRUE(window->IsTimerActive(IDT_LOG_ROLLOVER));
  EXPECT_FALSE(window->IsTimerActive(IDT_HIDE_WINDOW));
}

TEST(Settings, EmptyStoreGivesTheDefaults) {
  TestEnvironment environment;
  auto window = StartWindow(environment);
  EXPECT_TRUE(static_cast<QAbstractButton*>(window->GetDlgItem(IDC_RADIO_LOG0))->isChecked());
  EXPECT_EQ(window->m_comboServerType->currentIndex(), 0);
  EXPECT_EQ(window->m_comboSendType->currentIndex(), 0);
  EXPECT_EQ(static_cast<QLineEdit*>(window->GetDlgItem(IDC_EDIT_CENTERID))->text(), "0");
  for (int n = 0; n < kTelControlCount; ++n) {
    const AccountSlot& slot = window->Core().Accounts().Account(n);
    EXPECT_TRUE(slot.m_strUID.isEmpty() && slot.m_strPWD.isEmpty() && slot.m_strServerIP.isEmpty());
  }
}

TEST(Settings, ChangesMadeInTheWindowAreTheNextRunsStartValues) {
  TestEnvironment environment;
  {
    auto window = StartWindow(environment);
    static_cast<QAbstractButton*>(window->GetDlgItem(IDC_RADIO_LOG2))->click();
    window->m_comboServerType->setCurrentIndex(1);
    emit window->m_comboServerType->activated(1);
    window->m_comboSendType->setCurrentIndex(2);
    emit window->m_comboSendType->activated(2);
    auto* centre = static_cast<QLineEdit*>(window->GetDlgItem(IDC_EDIT_CENTERID));
    centre->setText("77");
    static_cast<QAbstractButton*>(window->GetDlgItem(IDC_BUTTON_SETCENTER))->click();
    // Typed but not stored with the button: not kept.
    centre->setText("99");
  }
  environment.RestartSettings();
  auto window = StartWindow(environment);
  EXPECT_EQ(window->Core().LogType(), 2);
  EXPECT_EQ(window->Core().ServerType(), 1);
  EXPECT_EQ(window->Core().SendType(), 2);
  EXPECT_EQ(window->Core().CenterId(), 77);
  EXPECT_TRUE(static_cast<QAbstractButton*>(window->GetDlgItem(IDC_RADIO_LOG2))->isChecked());
  EXPECT_EQ(window->m_comboSendType->currentIndex(), 2);
  EXPECT_EQ(static_cast<QLineEdit*>(window->GetDlgItem(IDC_EDIT_CENTERID))->text(), "77");
}

TEST(Settings, ACentreCodeThatIsNoIntegerKeepsTheOldValue) {
  TestEnvironment environment;
  environment.Settings().WriteProfileInt("CENTERID", 5);
  auto window = StartWindow(environment);
  static_cast<QLineEdit*>(window->GetDlgItem(IDC_EDIT_CENTERID))->setText("abc");
  window->OnSetCenterId();
  EXPECT_EQ(window->Core().CenterId(), 5);
  EXPECT_EQ(environment.Settings().GetProfileInt("CENTERID", 0), 5);
  ASSERT_EQ(environment.presenter.shown.size(), 1u);
  EXPECT_EQ(environment.presenter.shown[0].text, QByteArray("Enter an integer."));
}

TEST(Settings, StoredTypesOutsideTheItemsShowNoSelectionUntilTheNextExchange) {
  TestEnvironment environment;
  environment.Settings().WriteProfileInt("SERVERTYPE", 7);
  environment.Settings().WriteProfileInt("SENDTYPE", -3);
  auto window = StartWindow(environment);
  EXPECT_EQ(window->m_comboServerType->currentIndex(), -1);
  EXPECT_EQ(window->m_comboSendType->currentIndex(), -1);
  EXPECT_EQ(window->Core().ServerType(), 7);
  EXPECT_EQ(window->Core().SendType(), -3);
  window->OnSetCenterId();
  EXPECT_EQ(window->Core().ServerType(), -1);
  EXPECT_EQ(window->Core().SendType(), -1);
}

TEST(Settings, NamesMatchWithoutRegardToCase) {
  TestEnvironment environment;
  SettingsStore& store = environment.Settings();
  store.WriteProfileString("ServerIP5", "10.1.2.3");
  EXPECT_EQ(store.GetProfileString("SERVERIP5", {}), "10.1.2.3");
  store.WriteProfileString("serverip5", "10.9.9.9");
  environment.RestartSettings();
  EXPECT_EQ(environment.Settings().GetProfileString("SERVERIP5", {}), "10.9.9.9");
  environment.Settings().WriteProfileInt("LogType", 1);
  EXPECT_EQ(environment.Settings().GetProfileInt("LOGTYPE", 0), 1);
}

TEST(Settings, ValuesThatAreNoNumberReadAsTheDefault) {
  TestEnvironment environment;
  SettingsStore& store = environment.Settings();
  for (const QByteArray& stored : {QByteArray("abc"), QByteArray("4294967296"), QByteArray("")}) {
    store.WriteProfileString("SENDTYPE", stored);
    EXPECT_EQ(store.GetProfileInt("SENDTYPE", 42), 42) << stored.constData();
  }
  store.WriteProfileString("UID1", ToCp949(QStringLiteral("상담원")));
  environment.RestartSettings();
  EXPECT_EQ(FromCp949(environment.Settings().GetProfileString("uid1", {})),
            QStringLiteral("상담원"));
}

}  // namespace
