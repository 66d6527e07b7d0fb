#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away RabbitMQ node on loopback ports of its own, with its own
// epmd port, cookie, database and logs under a temporary directory, so that
// it neither needs nor meets a broker the machine may run. The guest user
// may log in from anywhere on it.
class RabbitMqNode {
 public:
  explicit RabbitMqNode(QString shortName);
  // Stops the node and its epmd.
  ~RabbitMqNode();
  RabbitMqNode(const RabbitMqNode&) = delete;
  RabbitMqNode& operator=(const RabbitMqNode&) = delete;

  // Starts the node and waits until it has booted.
  bool Start();
  // Stops and starts the broker inside the running node: its clients are
  // disconnected and its port refuses connections meanwhile.
  bool StopBroker();
  bool StartBroker();
  // rabbitmqctl against this node; false with Log() telling why.
  bool Control(const QStringList& arguments, QString* output = nullptr);

  quint16 Port() const { return m_port; }
  QString NodeName() const { return m_nodeName; }
  QString Log() const { return m_log; }

 private:
  QProcessEnvironment Environment() const;

  QTemporaryDir m_dir;
  QString m_nodeName;
  quint16 m_port;
  quint16 m_distributionPort;
  quint16 m_epmdPort;
  QProcess m_server;
  QString m_log;
};
