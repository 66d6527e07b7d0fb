#include "asteriskpbx.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include "support/qtwait.h"
#include "support/relayprocess.h"

namespace {

constexpr const char* kDriverUser = "driver";
constexpr const char* kDriverSecret = "driver-secret";

bool WriteFile(const QString& path, const QByteArray& text) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

const char kDialplan[] = R"([callers]
exten => _X.,1,Answer()
 same => n,Wait(300)
 same => n,Hangup()

[did]
exten => 07077771234,1,Dial(Local/301@agents/n,30)
 same => n,Hangup()
exten => 07077775555,1,Queue(support,,,,30)
 same => n,Hangup()

[agents]
exten => _3XX,1,Set(DELAY=${ANSWER_${EXTEN}})
 same => n,GotoIf($["${DELAY}" = ""]?never)
 same => n,Wait(${DELAY})
 same => n,Answer()
 same => n,Wait(300)
 same => n,Hangup()
 same => n(never),Wait(300)
 same => n,Hangup()

[outbound]
exten => _0X.,1,Dial(Local/${EXTEN}@callees/n,30)
 same => n,Hangup()

[callees]
exten => _X.,1,Wait(1)
 same => n,Answer()
 same => n,Wait(300)
 same => n,Hangup()

[transfer]
exten => _3XX,1,Dial(Local/${EXTEN}@agents/n,30)
 same => n,Hangup()
)";

const char kQueues[] = R"([support]
strategy = ringall
timeout = 30
retry = 60
member => Local/301@agents/n
member => Local/302@agents/n
member => Local/303@agents/n
)";

}  // namespace

AsteriskPbx::Install AsteriskPbx::Build() {
  QProcess script;
  script.setProgram(QStringLiteral(TARVEX_SOURCE_DIR "/scripts/asterisk.sh"));
  script.setProcessChannelMode(QProcess::SeparateChannels);
  script.start();
  // A first build takes minutes on a busy machine.
  const bool finished = script.waitForFinished(30 * 60 * 1000);
  const QString errors = QString::fromUtf8(script.readAllStandardError()).trimmed();
  if (!finished || script.exitStatus() != QProcess::NormalExit) {
    return {{}, QStringLiteral("scripts/asterisk.sh did not finish: ") + errors, false};
  }
  if (script.exitCode() == 3) {
    return {{}, errors, true};
  }
  if (script.exitCode() != 0) {
    return {{}, QStringLiteral("scripts/asterisk.sh failed: ") + errors, false};
  }
  const QList<QByteArray> lines = script.readAllStandardOutput().trimmed().split('\n');
  return {QString::fromUtf8(lines.last()), {}, false};
}

AsteriskPbx::AsteriskPbx(QString prefix) : m_prefix(std::move(prefix)) {}

AsteriskPbx::~AsteriskPbx() { Stop(); }

bool AsteriskPbx::WriteConfiguration(QString* error) {
  const QString etc = m_dir.filePath(QStringLiteral("etc"));
  for (const char* folder : {"etc", "run", "log", "spool", "lib"}) {
    QDir().mkpath(m_dir.filePath(QLatin1String(folder)));
  }
  // A plain [directories] section: Asterisk ignores a templated one.
  const QByteArray directories =
      QStringLiteral(
          "[directories]\nastetcdir => %1/etc\nastmoddir => %2/lib/asterisk/modules\n"
          "astvarlibdir => %1/lib\nastdbdir => %1/lib\nastkeydir => %1/lib\n"
          "astdatadir => %2/var/lib/asterisk\nastagidir => %1/lib\nastspooldir => %1/spool\n"
          "astrundir => %1/run\nastlogdir => %1/log\nastsbindir => %2/sbin\n[options]\n")
          .arg(m_dir.path(), m_prefix)
          .toUtf8();
  m_nPort = AnyFreePort();
  const QByteArray manager = QStringLiteral(
                                 "[general]\nenabled = yes\nport = %1\nbindaddr = 127.0.0.1\n\n"
                                 "[%2]\nsecret = %3\nread = call,agent\nwrite =\n\n"
                                 "[%4]\nsecret = %5\nread = all\nwrite = all\n")
                                 .arg(m_nPort)
                                 .arg(QLatin1String(kBridgeUser), QLatin1String(kBridgeSecret),
                                      QLatin1String(kDriverUser), QLatin1String(kDriverSecret))
                                 .toUtf8();
  const bool written =
      WriteFile(etc + QStringLiteral("/asterisk.conf"), directories) &&
      WriteFile(etc + QStringLiteral("/modules.conf"), "[modules]\nautoload=yes\n") &&
      WriteFile(etc + QStringLiteral("/logger.conf"),
                "[logfiles]\nconsole => error\nmessages => notice,warning,error,verbose(3)\n") &&
      WriteFile(etc + QStringLiteral("/manager.conf"), manager) &&
      WriteFile(etc + QStringLiteral("/queues.conf"), kQueues) &&
      WriteFile(etc + QStringLiteral("/extensions.conf"), kDialplan);
  if (!written) *error = QStringLiteral("cannot write the configuration in ") + m_dir.path();
  return written;
}

bool AsteriskPbx::Start(QString* error) {
  if (m_process.state() == QProcess::NotRunning && m_nPort == 0 && !WriteConfiguration(error)) {
    return false;
  }
  m_process.setProgram(m_prefix + QStringLiteral("/sbin/asterisk"));
  m_process.setArguments({QStringLiteral("-C"), m_dir.filePath(QStringLiteral("etc/asterisk.conf")),
                          QStringLiteral("-f"), QStringLiteral("-n"), QStringLiteral("-q")});
  m_process.setProcessChannelMode(QProcess::MergedChannels);
  m_process.start();
  if (!m_process.waitForStarted(10000)) {
    *error = QStringLiteral("asterisk did not start: ") + m_process.errorString();
    return false;
  }
  m_driver = std::make_unique<AmiConnection>(
      AmiEndpoint{QStringLiteral("127.0.0.1"), m_nPort, kDriverUser, kDriverSecret},
      AmiTiming{20000, 10000, 200, 1000});
  QObject::connect(m_driver.get(), &AmiConnection::EventReceived,
                   [this](const AmiMessage& event) { m_events.append(event); });
  m_driver->Start();
  const bool linked =
      WaitUntil([this] { return m_driver->IsUp() || m_process.state() == QProcess::NotRunning; },
                60000) &&
      m_driver->IsUp();
  if (!linked || !WaitFullyBooted()) {
    *error = (linked ? QStringLiteral("asterisk did not finish booting: ")
                     : QStringLiteral("asterisk's manager interface did not come up: ")) +
             QString::fromUtf8(m_process.readAll() + Log().right(4000));
    return false;
  }
  return true;
}

// The manager interface takes logins and actions while the modules are still
// loading: an Originate then finds no dialplan ("Extension does not exist")
// and the call never rings. Asterisk's console answers this command once the
// start is over; until its socket exists the attempt fails and is repeated.
bool AsteriskPbx::WaitFullyBooted() {
  return WaitUntil(
             [this] {
               if (m_process.state() == QProcess::NotRunning) return true;
               QProcess console;
               console.start(
                   m_prefix + QStringLiteral("/sbin/asterisk"),
                   {QStringLiteral("-C"), m_dir.filePath(QStringLiteral("etc/asterisk.conf")),
                    QStringLiteral("-rx"), QStringLiteral("core waitfullybooted")});
               return console.waitForFinished(60000) &&
                      console.exitStatus() == QProcess::NormalExit && console.exitCode() == 0;
             },
             60000) &&
         m_process.state() != QProcess::NotRunning;
}

void AsteriskPbx::Stop() {
  m_driver.reset();
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.terminate();
  if (!m_process.waitForFinished(20000)) {
    m_process.kill();
    m_process.waitForFinished(5000);
  }
}

QByteArray AsteriskPbx::Log() const {
  QFile file(m_dir.filePath(QStringLiteral("log/messages")));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool AsteriskPbx::Send(const AmiMessage& action) { return m_driver && m_driver->Send(action); }

QByteArray AsteriskPbx::BridgedChannel(const QByteArray& prefix, const QByteArray& suffix,
                                       qsizetype since) const {
  // A bridge with one channel in it cannot be transferred yet: wait for its second.
  QHash<QByteArray, QByteArray> channelOfBridge;
  for (qsizetype n = since; n < m_events.size(); ++n) {
    const AmiMessage& event = m_events[n];
    if (event.EventName() != "BridgeEnter") continue;
    const QByteArray bridge = event.Value("BridgeUniqueid");
    const QByteArray channel = event.Value("Channel");
    if (channel.startsWith(prefix) && channel.endsWith(suffix)) channelOfBridge[bridge] = channel;
    if (event.Value("BridgeNumChannels").toInt() >= 2 && channelOfBridge.contains(bridge)) {
      return channelOfBridge[bridge];
    }
  }
  return {};
}
