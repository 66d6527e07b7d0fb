#include "bench/launchedrelay.h"

#include "bench/stalledbrowsers.h"
#include "core/config/settingkeys.h"
#include "core/feed/feedtoken.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <csignal>

#include "bench/clientfleet.h"
#include "bench/ringledger.h"

namespace {

constexpr int kStartTimeoutMs = 60000;
constexpr int kStopTimeoutMs = 20000;
// The event outbox's room: every event of a full-rate phase, while the
// broker, starved of CPU beside the relay, takes them later.
constexpr int kOutboxBytes = 256 * 1024 * 1024;

bool Listening(quint16 port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  CloseAtOnce(fd);
  return connected;
}

}  // namespace

quint16 FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

LaunchedRelay::LaunchedRelay(Options options) : m_options(std::move(options)) {}

LaunchedRelay::~LaunchedRelay() { Stop(); }

bool LaunchedRelay::Start(QString* error) {
  m_extPort = FreePort();
  do {
    m_ldkPort = FreePort();
  } while (m_ldkPort == m_extPort);

  const QDir work(m_options.workDirectory);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("TARVEX_EXT_PORT", QString::number(m_extPort));
  environment.insert("TARVEX_LDK_PORT", QString::number(m_ldkPort));
  environment.insert("TARVEX_TEL_PORT", QString::number(m_options.telPort));
  QStringList arguments;
  if (m_options.reference) {
    for (const TelAccount& account : m_options.accounts) {
      arguments.append(account.id + QLatin1Char(':') + account.password);
    }
  } else {
    const QString configHome = work.filePath(QStringLiteral("config"));
    if (!WriteSettings(configHome, error)) return false;
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("TARVEX_ODBC", QString::fromStdString(m_options.odbc));
    environment.insert("TARVEX_LOG_DIR", work.filePath(QStringLiteral("CIDLog")));
    environment.insert("TARVEX_STATE_DIR", work.filePath(QStringLiteral("state")));
    environment.insert("TARVEX_INSTANCE", QStringLiteral("tarvex-bench-%1").arg(getpid()));
    environment.insert("XDG_CONFIG_HOME", configHome);
    environment.insert("TARVEX_FEED_PORT", QString::number(m_options.feedPort));
  }
  m_process.setProcessEnvironment(environment);
  m_process.setProgram(m_options.program);
  m_process.setArguments(arguments);
  m_process.setStandardOutputFile(QProcess::nullDevice());
  m_process.setStandardErrorFile(m_options.stderrFile.isEmpty() ? QProcess::nullDevice()
                                                                : m_options.stderrFile);

  const int64_t started = NowNs();
  m_process.start();
  if (!m_process.waitForStarted(kStartTimeoutMs)) {
    *error = m_options.program + QStringLiteral(": ") + m_process.errorString();
    return false;
  }
  while (!(Listening(m_extPort) && Listening(m_ldkPort))) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (!IsRunning() || NowNs() - started > int64_t(kStartTimeoutMs) * 1000000) {
      *error = QStringLiteral("%1 did not listen (exit code %2)")
                   .arg(m_options.program)
                   .arg(m_process.exitCode());
      return false;
    }
    QThread::usleep(500);
  }
  m_startupMs = double(NowNs() - started) / 1e6;
  return true;
}

QString LaunchedRelay::RelayName() const { return QDir(m_options.workDirectory).dirName(); }

void LaunchedRelay::Stop() {
  if (!IsRunning()) return;
  ::kill(Pid(), SIGTERM);
  if (!m_process.waitForFinished(kStopTimeoutMs)) {
    m_process.kill();
    m_process.waitForFinished(kStopTimeoutMs);
  }
}

// Settings as the operator leaves them: the accounts signed in at the local
// simulator, send type 0 (notice on ringing) or, to record, 2 (notices on
// ringing and answer, each call written to the database under centre code 1),
// caller numbers in the log; the event stream to a broker when one is given.
bool LaunchedRelay::WriteSettings(const QString& configHome, QString* error) const {
  const QString name = QFileInfo(m_options.program).baseName();
  QDir().mkpath(configHome + QStringLiteral("/MERVO"));
  QFile file(configHome + QStringLiteral("/MERVO/") + name + QStringLiteral(".conf"));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    *error = file.fileName() + QStringLiteral(": ") + file.errorString();
    return false;
  }
  QByteArray text = "[SETTING]\n";
  const auto line = [&text](const QString& key, const QByteArray& value) {
    text += key.toLatin1() + '=' + value + '\n';
  };
  for (int n = 0; n < int(m_options.accounts.size()); ++n) {
    line(AccountIdKey(n + 1), m_options.accounts[n].id.toUtf8());
    line(AccountPasswordKey(n + 1), m_options.accounts[n].password.toUtf8());
    line(AccountServerKey(n + 1), "127.0.0.1");
  }
  const auto number = [&line](const IntSetting& setting, int value) {
    line(QLatin1String(setting.name), QByteArray::number(value));
  };
  number(kSendTypeSetting, m_options.record ? 2 : 0);
  number(kCenterIdSetting, m_options.record ? 1 : 0);
  number(kLogTypeSetting, 0);
  number(kServerTypeSetting, 0);
  if (m_options.feedPort != 0) {
    line(QLatin1String(kFeedTokenKeyPrefix) + QStringLiteral("BENCH"),
         FeedToken::HashOf(QLatin1String(StalledBrowsers::kToken)) + " admin");
    QByteArray extensions;
    for (const TelAccount& account : m_options.accounts) {
      extensions += ' ' + account.number.right(3).toLatin1();
    }
    line(QLatin1String(kFeedTokenKeyPrefix) + QStringLiteral("BENCHAGENT"),
         FeedToken::HashOf(QLatin1String(ClientFleet::kBrowserToken)) + extensions);
  }
  if (m_options.brokerPort != 0) {
    line(QLatin1String(kAmqpHostSetting.name), "127.0.0.1");
    number(kAmqpPortSetting, m_options.brokerPort);
    number(kAmqpOutboxBytesSetting, kOutboxBytes);
    line(QLatin1String(kRelayNameKey), RelayName().toUtf8());
  }
  return file.write(text) == text.size();
}
