#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "db/calldatabase.h"
#include "relay/callnotice.h"
#include "support/testwindow.h"
#include "ui/tarvexdlg.h"

// Support for the tests of the window's sign-in and call handlers.
namespace handlertest {

// The fixed time every window under test reads from its clock.
QDateTime FixedNow();
// FixedNow() as the lists show it.
QByteArray FixedTimeText();

// A test environment with the fixed clock, a call database that can never
// record (so that each attempted write shows as an activity line) and a
// script for the communication-settings dialog.
class WindowEnvironment : public TestEnvironment {
 public:
  WindowEnvironment();

  // A window that has run its start-up steps with controls from factory.
  std::unique_ptr<CTarvexCentrixDlg> StartWindow(TelControlFactory factory);
  // What a new program run would read for one settings key.
  QByteArray StoredString(const QString& name);
  // All that the window wrote to the daily log file so far.
  QByteArray LogFileText() const;

  CallDatabase failingDatabase;
  // Opening the dialog without a script fails the test.
  std::function<int(CDlgSetPort&)> runSetPortDialog;
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
  std::unique_ptr<TestClient> m_client;
};

}  // namespace handlertest
