#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <map>
#include <memory>

constexpr int kExtensionClient = 0;
constexpr int kLdkClient = 1;

// One accepted client connection. Sends never block: data waits in the
// socket's buffer, and a client whose unsent data passes the bound is reported
// through Overflowed so that it cannot hold up the relay.
class CClientSocket : public QObject {
  Q_OBJECT
 public:
  static constexpr qint64 kMaxUnsentBytes = 1 << 20;

  CClientSocket(QTcpSocket* socket, int kind, QObject* parent = nullptr);
  ~CClientSocket() override;

  qintptr Handle() const { return m_hSocket; }
  int Kind() const { return m_nKind; }
  QByteArray PeerAddress() const;

  // At most maxBytes of what has arrived.
  QByteArray Receive(qint64 maxBytes);
  void Send(const QByteArray& bytes);
  void Close();

 signals:
  void Received(CClientSocket* client, int kind);
  void Closed(CClientSocket* client, int kind);
  void Overflowed(CClientSocket* client, int kind);

 private:
  QTcpSocket* m_socket;
  qintptr m_hSocket;
  int m_nKind;
};

// The record a client table holds for one client.
struct MEMBER {
  QByteArray szIP;         // dotted IPv4, at most 15 characters
  QByteArray szExtension;  // last registration text, at most 99 bytes
  std::unique_ptr<CClientSocket> pSocket;
};

// Keyed by the socket handle the platform gave the connection.
using ClientTable = std::map<qintptr, std::unique_ptr<MEMBER>>;
