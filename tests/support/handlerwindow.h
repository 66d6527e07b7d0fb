#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

#include "app/messagepresenter.h"
#include "app/settingsstore.h"
#include "db/calldatabase.h"
#include "relay/callnotice.h"
#include "ui/tarvexdlg.h"

// Support for the tests of the window's sign-in and call handlers.
namespace handlertest {

// Answers every message box No or Ok and remembers its text (converted).
class RecordingPresenter : public MessagePresenter {
 public:
  MessageAnswer Show(QWidget* parent, const QString& caption, const QByteArray& text,
                     MessageButtons buttons, MessageIcon icon) override;
  std::vector<QString> shown;
};

// The fixed time every window under test reads from its clock.
QDateTime FixedNow();
// FixedNow() as the lists show it.
QByteArray FixedTimeText();

// A window on its own temporary settings store, log directory and ports, with
// the fixed clock and a call database that can never record (so that each
// attempted write shows as an activity line).
class WindowEnvironment {
 public:
  WindowEnvironment();

  // The store a program run sees; RestartSettings() makes the next call open it anew.
  SettingsStore& Settings();
  void RestartSettings() { m_settings.reset(); }
  // A window that has run its start-up steps with controls from factory.
  std::unique_ptr<CTarvexCentrixDlg> StartWindow(TelControlFactory factory);
  // All that the window wrote to the daily log file so far.
  QByteArray LogFileText() const;

  QTemporaryDir directory;
  QString logDirectory;
  quint16 extPort;
  quint16 ldkPort;
  RecordingPresenter presenter;
  CallDatabase database;
  std::function<int(CDlgSetPort&)> runSetPortDialog;

 private:
  std::unique_ptr<SettingsStore> m_settings;
};

// The activity line the window shows for a call record that could not be written.
QByteArray RecordFailureLine(const QByteArray& caller, const QByteArray& inboundTail,
                             const QByteArray& accountExt);

// The activity list, top first.
std::vector<QByteArray> ActivityLines(const CTarvexCentrixDlg& window);
bool HasActivityLine(const CTarvexCentrixDlg& window, const QByteArray& line);
// Columns 0 to 5 of one row of the accounts list.
std::vector<QByteArray> AccountRow(const CTarvexCentrixDlg& window, int row);

// An extension client: registers a text and collects the 24-byte notices sent to it.
class NoticeClient {
 public:
  // Connects and registers; false when the acknowledgement does not come.
  bool Register(quint16 port, const QByteArray& text);
  // Every complete record received so far, raw.
  std::vector<QByteArray> Records();

 private:
  QTcpSocket m_socket;
  QByteArray m_received;
};

// The fields of a 24-byte record.
CallNotice DecodeNotice(const QByteArray& record);

}  // namespace handlertest
