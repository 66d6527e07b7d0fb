#include "bridgeprocess.h"

#include <QFile>

#include "support/failurelog.h"
#include "support/qtwait.h"
#include "support/relayprocess.h"

BridgeProcess::BridgeProcess(quint16 amiPort, const QByteArray& user, const QByteArray& secret)
    : m_nPort(AnyFreePort()) {
  QByteArray text = QStringLiteral(
                        "[ami]\nhost=127.0.0.1\nport=%1\nuser=%2\nsecret=%3\n"
                        "first_retry_seconds=1\nmax_retry_seconds=2\n"
                        "[server]\nlisten=127.0.0.1\nport=%4\nlog_callers=true\n")
                        .arg(amiPort)
                        .arg(QString::fromUtf8(user), QString::fromUtf8(secret))
                        .arg(m_nPort)
                        .toUtf8();
  for (int n = 1; n <= 3; ++n) {
    text += QStringLiteral(
                "[account.agent%1]\npassword=secret%1\nnumber=0701234530%1\n"
                "endpoints=Local/30%1@agents\n")
                .arg(n)
                .toUtf8();
  }
  QFile config(m_dir.filePath(QStringLiteral("amibridge.conf")));
  if (config.open(QIODevice::WriteOnly)) config.write(text);
  m_process.setProgram(QStringLiteral(TARVEX_BINARY_DIR "/tools/amibridge/tarvex-amibridge"));
  m_process.setArguments({QStringLiteral("--config"), config.fileName()});
  QObject::connect(&m_process, &QProcess::readyReadStandardError,
                   [this] { m_output += m_process.readAllStandardError(); });
}

BridgeProcess::~BridgeProcess() {
  if (m_process.state() != QProcess::NotRunning) {
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) m_process.kill();
    m_process.waitForFinished(5000);
  }
  if (InFailingTest()) PrintLogTail(QStringLiteral("the bridge's log"), Output());
}

bool BridgeProcess::Start(QString* error) {
  m_process.start();
  if (!m_process.waitForStarted(10000) || !WaitForOutput(0, "PBX link up")) {
    *error = QStringLiteral("the bridge did not reach the PBX: ") + QString::fromUtf8(Output());
    return false;
  }
  return true;
}

const QByteArray& BridgeProcess::Output() {
  m_output += m_process.readAllStandardError();
  return m_output;
}

bool BridgeProcess::WaitForOutput(qsizetype from, const QByteArray& text, int count,
                                  int timeoutMs) {
  return WaitUntil([&] { return Output().mid(from).count(text) >= count; }, timeoutMs);
}

QByteArray RelaySettingsForBridge() {
  QByteArray text = "[SETTING]\nSENDTYPE=2\nLOGTYPE=0\nCENTERID=7\n";
  for (int n = 1; n <= 3; ++n) {
    text += QStringLiteral("UID%1=agent%1\nPWD%1=secret%1\nSERVERIP%1=127.0.0.1\n").arg(n).toUtf8();
  }
  return text;
}
