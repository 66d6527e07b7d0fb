#include "bench/benchsession.h"

#include <QCoreApplication>
#include <QThread>

namespace {

constexpr int kSignInTimeoutMs = 30000;
constexpr int kFirstExtension = 301;

}  // namespace

BenchSession::BenchSession(const SessionConfig& config, bool reference, int extClients,
                           int ldkClients)
    : m_nExtClients(extClients),
      m_nLdkClients(ldkClients),
      m_ledger(extClients + ldkClients, config.browsers),
      m_bReference(reference),
      m_config(config) {
  for (int n = 0; n < config.accounts; ++n) {
    const QString extension = QString::number(kFirstExtension + n);
    m_accounts.append({QStringLiteral("agent") + extension, QStringLiteral("pw") + extension,
                       QStringLiteral("07012345") + extension, 1, QString()});
  }
}

// The relay goes first: its sign-outs must not meet a closed simulator.
BenchSession::~BenchSession() {
  m_fleet.reset();
  m_relay.reset();
}

bool BenchSession::Open(QString* error) {
  for (const TelAccount& account : m_accounts) m_server.AddAccount(account);
  if (!m_server.Listen(0)) {
    *error = m_server.ErrorString();
    return false;
  }
  LaunchedRelay::Options options;
  options.program = m_bReference ? m_config.referenceProgram : m_config.relayProgram;
  options.reference = m_bReference;
  options.workDirectory = m_dir.path();
  options.telPort = m_server.Port();
  options.accounts = m_accounts;
  options.odbc = m_config.odbc;
  options.record = m_config.record;
  options.stderrFile = m_bReference ? QString() : m_config.relayStderr;
  options.feedPort = m_config.feedPort;
  options.brokerPort = m_config.brokerPort;
  m_relay = std::make_unique<LaunchedRelay>(options);
  if (!m_relay->Start(error) || !WaitSignedIn(error)) return false;

  // Every client registers every account's extension.
  QByteArray registration;
  QStringList accountIds;
  for (const TelAccount& account : m_accounts) {
    registration += (registration.isEmpty() ? "" : ",") + account.number.right(3).toLatin1();
    accountIds.append(account.id);
  }
  m_fleet = std::make_unique<ClientFleet>(
      ClientFleet::Options{m_relay->ExtPort(), m_relay->LdkPort(), m_nExtClients, m_nLdkClients,
                           registration, m_config.feedPort, m_config.browsers},
      m_ledger);
  if (!m_fleet->Connect(error)) return false;
  m_fleet->Watch();
  m_feed = std::make_unique<CallFeed>(m_server, accountIds, m_ledger);
  return true;
}

bool BenchSession::WaitSignedIn(QString* error) {
  const int64_t deadline = NowNs() + int64_t(kSignInTimeoutMs) * 1000000;
  while (m_server.SignedInAccounts().size() < m_accounts.size()) {
    if (NowNs() > deadline || !m_relay->IsRunning()) {
      *error = QStringLiteral("%1 of %2 accounts signed in")
                   .arg(m_server.SignedInAccounts().size())
                   .arg(m_accounts.size());
      return false;
    }
    QCoreApplication::processEvents();
    QThread::msleep(1);
  }
  return true;
}
