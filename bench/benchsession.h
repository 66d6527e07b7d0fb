#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "bench/callfeed.h"
#include "bench/clientfleet.h"
#include "bench/launchedrelay.h"
#include "bench/ringledger.h"
#include "tools/telsim/telephonyserver.h"

// What every run shares.
struct SessionConfig {
  QString relayProgram;
  QString referenceProgram;
  std::string odbc;
  int accounts = 10;
  QString relayStderr;     // empty: discarded
  bool record = false;     // the real relay records every call
  quint16 feedPort = 0;    // the real relay's browser feed; 0: off
  int browsers = 0;        // of the feed, each hearing every ring with the clients
  quint16 brokerPort = 0;  // the real relay publishes its events there; 0: no stream
};

// One relay under load: the in-process simulator with its accounts, the
// relay (real or reference) signed in to them, and its clients connected.
class BenchSession {
 public:
  BenchSession(const SessionConfig& config, bool reference, int extClients, int ldkClients);
  ~BenchSession();

  bool Open(QString* error);

  double StartupMs() const { return m_relay->StartupMs(); }
  pid_t RelayPid() const { return m_relay->Pid(); }
  quint16 ExtPort() const { return m_relay->ExtPort(); }
  QString RelayName() const { return m_relay->RelayName(); }
  CallFeed& Feed() { return *m_feed; }
  RingLedger& Ledger() { return m_ledger; }
  const ClientFleet& Fleet() const { return *m_fleet; }

 private:
  bool WaitSignedIn(QString* error);

  QTemporaryDir m_dir;
  int m_nExtClients;
  int m_nLdkClients;
  QList<TelAccount> m_accounts;
  RingLedger m_ledger;
  TelephonyServer m_server;
  std::unique_ptr<LaunchedRelay> m_relay;
  std::unique_ptr<ClientFleet> m_fleet;
  std::unique_ptr<CallFeed> m_feed;
  bool m_bReference;
  SessionConfig m_config;
};
