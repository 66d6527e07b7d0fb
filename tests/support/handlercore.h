#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "core/db/calldatabase.h"
#include "core/relay/callnotice.h"
#include "support/testcore.h"

// Support for the tests of the core's sign-in and call handlers.
namespace handlertest {

// The fixed time every core under test reads from its clock.
QDateTime FixedNow();
// FixedNow() as the lists show it.
QByteArray FixedTimeText();

// A test environment with the fixed clock and a call database that can never
// record (so that each attempted write shows as an activity line).
class CoreEnvironment : public TestEnvironment {
 public:
  CoreEnvironment();

  // A core that has run its start-up steps with controls from factory.
  std::unique_ptr<CentrixCore> StartCore(TelControlFactory factory);
  // Stores the account of slot n (1 to 60) as the dialog would.
  void ConfigureAccount(int slotNumber, const QByteArray& uid, const QByteArray& pwd,
                        const QByteArray& serverIp);
  // What a new program run would read for one settings key.
  QByteArray StoredString(const QString& name);
  // All that the core wrote to the daily log file so far.
  QByteArray LogFileText() const;

  CallDatabase failingDatabase;
};

// The activity line shown for a call record that could not be written.
QByteArray RecordFailureLine(const QByteArray& caller, const QByteArray& inboundTail,
                             const QByteArray& accountExt);

// The activity list, top first.
std::vector<QByteArray> ActivityLines(const CentrixCore& core);
bool HasActivityLine(const CentrixCore& core, const QByteArray& line);
// Columns 0 to 5 of one row of the accounts list.
std::vector<QByteArray> AccountRow(const CentrixCore& core, int row);

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
