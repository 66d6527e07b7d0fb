#include "tools/telsim/loadgenerator.h"

#include "tools/telsim/telephonyserver.h"

namespace {
// Fine enough for any rate: each tick sends every event that has fallen due.
constexpr int kTickMs = 10;
}  // namespace

LoadGenerator::LoadGenerator(TelephonyServer& server, QObject* parent)
    : QObject(parent), m_server(server), m_cycle(server) {
  m_ticker.setInterval(kTickMs);
  connect(&m_ticker, &QTimer::timeout, this, &LoadGenerator::OnTick);
}

bool LoadGenerator::SendNext() {
  const QStringList accounts = m_server.SignedInAccounts();
  if (accounts.isEmpty()) {
    return false;
  }
  const QString& accountId = accounts[static_cast<qsizetype>(m_nTurn++ % accounts.size())];
  m_cycle.SendNext(accountId, [this] { return ++m_nCallSerial; });
  ++m_nSent;
  return true;
}

void LoadGenerator::Start(int eventsPerSecond, qint64 durationMs) {
  m_nRate = eventsPerSecond;
  m_nDurationMs = durationMs;
  m_nScheduled = 0;
  m_nReportedSecs = 0;
  m_clock.start();
  m_ticker.start();
}

void LoadGenerator::Stop() { m_ticker.stop(); }

void LoadGenerator::OnTick() {
  qint64 elapsedMs = m_clock.elapsed();
  const bool done = m_nDurationMs > 0 && elapsedMs >= m_nDurationMs;
  if (done) {
    elapsedMs = m_nDurationMs;
  }
  const qint64 due = elapsedMs * m_nRate / 1000;
  while (m_nScheduled < due) {
    ++m_nScheduled;
    if (!SendNext()) {
      m_nScheduled = due;
    }
  }
  if (elapsedMs / 1000 > m_nReportedSecs) {
    m_nReportedSecs = elapsedMs / 1000;
    emit Progress(m_nSent, static_cast<int>(m_server.SignedInAccounts().size()));
  }
  if (done) {
    Stop();
    emit Finished(m_nSent);
  }
}
