#include "tools/telsim/loadgenerator.h"

#include "tools/telsim/servertexts.h"
#include "tools/telsim/telephonyserver.h"

namespace {
// Fine enough for any rate: each tick sends every event that has fallen due.
constexpr int kTickMs = 10;
}  // namespace

LoadGenerator::LoadGenerator(TelephonyServer& server, QObject* parent)
    : QObject(parent), m_server(server) {
  m_ticker.setInterval(kTickMs);
  connect(&m_ticker, &QTimer::timeout, this, &LoadGenerator::OnTick);
}

bool LoadGenerator::SendNext() {
  const QStringList accounts = m_server.SignedInAccounts();
  if (accounts.isEmpty()) {
    return false;
  }
  const QString& accountId = accounts[static_cast<qsizetype>(m_nTurn++ % accounts.size())];
  Call& call = m_calls[accountId];
  switch (call.step) {
    case 0:
      ++m_nCallSerial;
      call.caller = QStringLiteral("010%1").arg(m_nCallSerial % 100000000, 8, 10, QLatin1Char('0'));
      call.inExten =
          QStringLiteral("0707777%1").arg(m_nCallSerial % 10000, 4, 10, QLatin1Char('0'));
      m_server.SendRing(accountId, call.caller, call.inExten, false);
      break;
    case 1:
      m_server.SendHangUp(accountId, call.caller, call.inExten, kOutsideLinePeer);
      break;
    default:
      m_server.SendCallEnd(accountId);
  }
  call.step = (call.step + 1) % 3;
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
