#pragma once

#include <QByteArray>
#include <QString>

class SettingsStore;

// Where and how events are published. The credentials come only from the
// environment (TARVEX_AMQP_USER, TARVEX_AMQP_PASSWORD), never from the
// settings file, so that they stay out of it and out of the journal.
struct AmqpSettings {
  QString host;  // empty: no broker
  quint16 port = 5672;
  QString virtualHost = QStringLiteral("/");
  QString exchange = QStringLiteral("tarvex.calls");
  bool tls = false;
  QString caFile;  // trusted certificates for amqps; empty: the system's
  QByteArray user;
  QByteArray password;

  // The host, port, virtual host, exchange and TLS settings of the relay
  // (AMQPHOST, AMQPPORT, AMQPVHOST, AMQPEXCHANGE, AMQPTLS, AMQPCAFILE).
  static AmqpSettings Read(SettingsStore& settings);
  // Defaults with the credentials of the environment ("guest" when unset).
  static AmqpSettings WithEnvironmentCredentials();
};
