#pragma once

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include "core/relay/clientadmission.h"

// The feed's listening socket: the client ports' admission (allow-list and
// connections per host) before anything is read, then the TLS handshake
// when a certificate is set. Only admitted, encrypted connections come out.
class FeedListener : public QTcpServer {
  Q_OBJECT
 public:
  static constexpr int kHandshakeMs = 10000;
  static constexpr int kSendBufferBytes = 64 * 1024;

  explicit FeedListener(QObject* parent = nullptr);

  ClientAdmission& Rules() { return m_admission; }
  // A null configuration: clear text.
  void SetTls(const QSslConfiguration& tls) { m_tls = tls; }
  bool IsEncrypted() const { return !m_tls.isNull(); }

 signals:
  // The socket belongs to the receiver; it counts for its host until deleted.
  void Ready(QTcpSocket* socket);
  void Refused(const QByteArray& host, Admission why);
  void HandshakeFailed(const QByteArray& host, const QString& error);

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  void StartHandshake(QSslSocket* socket, const QByteArray& host);

  ClientAdmission m_admission;
  QSslConfiguration m_tls;
};
