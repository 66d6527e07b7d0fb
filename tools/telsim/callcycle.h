#pragma once

#include <QHash>
#include <QString>
#include <functional>

class TelephonyServer;

// Realistic calls, one at a time per account: a ring from an outside line,
// its pick-up and its end. Calls of different accounts interleave as the
// caller picks the accounts in turn.
class CallCycle {
 public:
  explicit CallCycle(TelephonyServer& server) : m_server(server) {}

  bool NextIsRing(const QString& accountId) const;
  // Sends the account's next event. A ring takes a new call serial from
  // nextCallSerial; the caller's number is "010" and its last eight digits.
  void SendNext(const QString& accountId, const std::function<quint64()>& nextCallSerial);

 private:
  struct Call {
    int step = 0;
    QString caller;
    QString inExten;
  };

  TelephonyServer& m_server;
  QHash<QString, Call> m_calls;
};
