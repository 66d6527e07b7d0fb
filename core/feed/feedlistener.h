#pragma once

#include <QHash>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include "core/relay/clientadmission.h"

// The feed's listening socket: the client ports' admission (allow-list and
// connections per host) before anything is read, then the TLS handshake
// when a certificate is set. Only admitted, encrypted connections come out,
// as pending connections.
class FeedListener : public QTcpServer {
  Q_OBJECT
 public:
  static constexpr int kHandshakeMs = 10000;
  // Pages and sign-ins are quick: a connection that is no WebSocket after
  // this long is closed, silent or not, and frees its host's place.
  static constexpr int kRequestMs = 10000;
  static constexpr int kSendBufferBytes = 64 * 1024;

  // A connection not yet closed, for those that count and time it.
  struct OpenConnection {
    QTcpSocket* socket;
    bool* webSocket;  // whether it may stay
  };

  explicit FeedListener(QObject* parent = nullptr);

  ClientAdmission& Rules() { return m_admission; }
  // A null configuration: clear text.
  void SetTls(const QSslConfiguration& tls) { m_tls = tls; }
  bool IsEncrypted() const { return !m_tls.isNull(); }
  // The connection from this peer became a WebSocket: the feed closes it.
  // Returns its socket, for frames built once for many WebSockets; nullptr
  // for a peer the listener does not know.
  QTcpSocket* KeepOpen(const QHostAddress& peer, quint16 port);

 signals:
  void Refused(const QByteArray& host, Admission why);
  void HandshakeFailed(const QByteArray& host, const QString& error);

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  void StartHandshake(QSslSocket* socket, const QByteArray& host);

  ClientAdmission m_admission;
  QSslConfiguration m_tls;
  // Connections not yet closed, by peer.
  QHash<QPair<QHostAddress, quint16>, OpenConnection> m_open;
};
