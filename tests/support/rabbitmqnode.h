#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away RabbitMQ node on loopback ports of its own, with its own
// epmd port, cookie, database and logs under a temporary directory, so that
// it neither needs nor meets a broker the machine may run. The guest user
// may log in from anywhere on it. Nodes that are to form a cluster share the
// first one's epmd and cookie.
class RabbitMqNode {
 public:
  explicit RabbitMqNode(QString shortName, const RabbitMqNode* clusterFirst = nullptr);
  // Stops the node, and the epmd it started.
  ~RabbitMqNode();
  RabbitMqNode(const RabbitMqNode&) = delete;
  RabbitMqNode& operator=(const RabbitMqNode&) = delete;

  // Before Start: amqps on a port of its own, which it returns.
  quint16 ListenWithTls(const QString& caFile, const QString& certificateFile,
                        const QString& keyFile);
  // Starts the node and waits until it has booted.
  bool Start();
  // Stops and starts the broker inside the running node: its clients are
  // disconnected and its port refuses connections meanwhile.
  bool StopBroker();
  bool StartBroker();
  // Joins the cluster of the running node first.
  bool JoinCluster(const RabbitMqNode& first);
  // SIGKILL: gone without a word to its peers.
  void Kill();
  // rabbitmqctl against this node; false with Log() telling why.
  bool Control(const QStringList& arguments, QString* output = nullptr);

  quint16 Port() const { return m_port; }
  qint64 ProcessId() const { return m_server.processId(); }
  QString NodeName() const { return m_nodeName; }
  QString Log() const { return m_log; }

 private:
  QProcessEnvironment Environment() const;

  QTemporaryDir m_dir;
  QString m_nodeName;
  const bool m_ownsEpmd;
  QString m_home;  // where the cookie is
  quint16 m_port;
  quint16 m_distributionPort;
  quint16 m_epmdPort;
  QProcess m_server;
  QString m_log;
};
