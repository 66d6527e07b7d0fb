#include "support/rabbitmqnode.h"

#include <QDir>
#include <QFile>
#include <algorithm>

#include "support/anyfreeport.h"

namespace {

const QString kServer = QStringLiteral("/usr/lib/rabbitmq/bin/rabbitmq-server");
const QString kControl = QStringLiteral("/usr/lib/rabbitmq/bin/rabbitmqctl");
// Booting takes tens of seconds on a busy machine.
constexpr int kBootSeconds = 180;
constexpr int kControlMs = (kBootSeconds + 30) * 1000;

quint16 AnotherFreePort(std::initializer_list<quint16> taken) {
  quint16 port = 0;
  while (port == 0 || std::find(taken.begin(), taken.end(), port) != taken.end()) {
    port = AnyFreePort();
  }
  return port;
}

}  // namespace

RabbitMqNode::RabbitMqNode(QString shortName, const RabbitMqNode* clusterFirst)
    : m_nodeName(shortName + QStringLiteral("@localhost")),
      m_ownsEpmd(clusterFirst == nullptr),
      m_home(clusterFirst ? clusterFirst->m_home : m_dir.filePath(QStringLiteral("home"))),
      m_port(AnyFreePort()),
      m_distributionPort(AnotherFreePort({m_port})),
      m_epmdPort(clusterFirst ? clusterFirst->m_epmdPort
                              : AnotherFreePort({m_port, m_distributionPort})) {
  QDir().mkpath(m_home);
  QFile config(m_dir.filePath(QStringLiteral("rabbitmq.conf")));
  if (config.open(QIODevice::WriteOnly)) {
    config.write(QStringLiteral("loopback_users = none\n"
                                "listeners.tcp.default = 127.0.0.1:%1\n")
                     .arg(m_port)
                     .toUtf8());
  }
  QFile plugins(m_dir.filePath(QStringLiteral("enabled_plugins")));
  if (plugins.open(QIODevice::WriteOnly)) plugins.write("[].\n");
  m_server.setProcessEnvironment(Environment());
  m_server.setProcessChannelMode(QProcess::MergedChannels);
  m_server.setStandardOutputFile(m_dir.filePath(QStringLiteral("server.out")));
}

RabbitMqNode::~RabbitMqNode() {
  if (m_server.state() != QProcess::NotRunning) {
    m_server.terminate();
    if (!m_server.waitForFinished(30000)) {
      m_server.kill();
      m_server.waitForFinished(5000);
    }
  }
  // The first node started epmd on a port of its own; it outlives the node.
  if (!m_ownsEpmd) return;
  QProcess epmd;
  epmd.setProcessEnvironment(Environment());
  epmd.start(QStringLiteral("epmd"),
             {QStringLiteral("-port"), QString::number(m_epmdPort), QStringLiteral("-kill")});
  epmd.waitForFinished(5000);
}

QProcessEnvironment RabbitMqNode::Environment() const {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  const auto path = [this](const char* name) { return m_dir.filePath(QLatin1String(name)); };
  environment.insert(QStringLiteral("HOME"), m_home);
  environment.insert(QStringLiteral("RABBITMQ_NODENAME"), m_nodeName);
  environment.insert(QStringLiteral("RABBITMQ_NODE_IP_ADDRESS"), QStringLiteral("127.0.0.1"));
  environment.insert(QStringLiteral("RABBITMQ_NODE_PORT"), QString::number(m_port));
  environment.insert(QStringLiteral("RABBITMQ_DIST_PORT"), QString::number(m_distributionPort));
  environment.insert(QStringLiteral("ERL_EPMD_PORT"), QString::number(m_epmdPort));
  environment.insert(QStringLiteral("RABBITMQ_MNESIA_BASE"), path("mnesia"));
  environment.insert(QStringLiteral("RABBITMQ_LOG_BASE"), path("log"));
  environment.insert(QStringLiteral("RABBITMQ_CONFIG_FILE"), path("rabbitmq.conf"));
  environment.insert(QStringLiteral("RABBITMQ_ENABLED_PLUGINS_FILE"), path("enabled_plugins"));
  environment.insert(QStringLiteral("RABBITMQ_PID_FILE"), path("rabbitmq.pid"));
  // The server script then runs the node in its own process: a signal to
  // it reaches the node.
  environment.insert(QStringLiteral("RUNNING_UNDER_SYSTEMD"), QStringLiteral("true"));
  return environment;
}

quint16 RabbitMqNode::ListenWithTls(const QString& caFile, const QString& certificateFile,
                                    const QString& keyFile) {
  const quint16 port = AnotherFreePort({m_port, m_distributionPort, m_epmdPort});
  QFile config(m_dir.filePath(QStringLiteral("rabbitmq.conf")));
  if (config.open(QIODevice::Append)) {
    config.write(QStringLiteral("listeners.ssl.default = 127.0.0.1:%1\n"
                                "ssl_options.cacertfile = %2\nssl_options.certfile = %3\n"
                                "ssl_options.keyfile = %4\nssl_options.verify = verify_none\n")
                     .arg(port)
                     .arg(caFile, certificateFile, keyFile)
                     .toUtf8());
  }
  return port;
}

bool RabbitMqNode::Start() {
  m_server.start(kServer, {});
  if (!m_server.waitForStarted(10000)) {
    m_log = QStringLiteral("cannot run ") + kServer;
    return false;
  }
  // Waits for the node to write its process id, then for the broker to boot.
  return Control({QStringLiteral("wait"), m_dir.filePath(QStringLiteral("rabbitmq.pid")),
                  QStringLiteral("--timeout"), QString::number(kBootSeconds)});
}

bool RabbitMqNode::StopBroker() { return Control({QStringLiteral("stop_app")}); }

bool RabbitMqNode::StartBroker() { return Control({QStringLiteral("start_app")}); }

bool RabbitMqNode::JoinCluster(const RabbitMqNode& first) {
  return StopBroker() && Control({QStringLiteral("join_cluster"), first.NodeName()}) &&
         StartBroker();
}

void RabbitMqNode::Kill() {
  m_server.kill();
  m_server.waitForFinished(10000);
}

bool RabbitMqNode::Control(const QStringList& arguments, QString* output) {
  QProcess control;
  control.setProcessEnvironment(Environment());
  control.setProcessChannelMode(QProcess::MergedChannels);
  control.start(kControl, QStringList{QStringLiteral("-n"), m_nodeName} + arguments);
  const bool finished = control.waitForFinished(kControlMs);
  const QString text = QString::fromUtf8(control.readAll());
  if (output) *output = text;
  if (finished && control.exitStatus() == QProcess::NormalExit && control.exitCode() == 0) {
    return true;
  }
  m_log = QStringLiteral("rabbitmqctl %1: %2").arg(arguments.join(' '), text);
  QFile server(m_dir.filePath(QStringLiteral("server.out")));
  if (server.open(QIODevice::ReadOnly)) m_log += QString::fromUtf8(server.readAll().right(4000));
  return false;
}
