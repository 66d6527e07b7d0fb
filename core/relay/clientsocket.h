#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <string>

#include "core/relay/clientsendbatch.h"

constexpr int kExtensionClient = 0;
constexpr int kLdkClient = 1;

// One accepted client connection.
//
// Received is emitted once per read notification; the receiver reads once
// with Receive, and while unread data remains another Received follows from
// the event loop. Closed is emitted from the event loop once the peer has
// closed (or half-closed) and what it sent has been read, so a close never
// happens in the middle of a send loop.
//
// Sends never block: data waits until the batch flushes it (at the end of
// the event loop's pass or when the relay asks); what the system does not
// take then waits in the socket's buffer. A client whose unsent data, with
// what the system holds for it, passes kMaxUnsentBytes is
// marked dropped at once (later sends to it are ignored) and reported
// through Overflowed from the event loop, so that the relay can remove it
// without disturbing a send loop in progress.
class CClientSocket : public QObject {
  Q_OBJECT
 public:
  // Far more notices than a client that reads at all ever has waiting,
  // counting what the system holds for it.
  static constexpr qint64 kMaxUnsentBytes = 64 * 1024;

  // The system's send buffer of a client (it doubles this for its own
  // bookkeeping): left to itself it grows to megabytes for a client that
  // does not read, and the bound above would count only past them.
  static constexpr int kSendBufferBytes = 16 * 1024;

  // What Qt reads ahead for one client: a client that sends faster than
  // the relay reads is held back by the system, not buffered here.
  static constexpr qint64 kMaxReadAheadBytes = 16 * 1024;

  // Takes ownership of socket, an accepted connection; sends go out through
  // batch, which must outlive every Send. id names the client for as long
  // as the relay runs; descriptor numbers come back once a connection ends.
  CClientSocket(QTcpSocket* socket, quint64 id, int kind, ClientSendBatch& batch,
                QObject* parent = nullptr);
  ~CClientSocket() override;

  quint64 Id() const { return m_nId; }
  // The descriptor the platform gave the connection at accept, for display.
  qintptr Handle() const { return m_hSocket; }
  int Kind() const { return m_nKind; }
  // Dotted IPv4 text of the peer (an IPv4-mapped IPv6 address as plain
  // IPv4); empty when it cannot be read.
  QByteArray PeerAddress() const;
  bool IsDropped() const { return m_bDropped; }

  // At most maxBytes of what has arrived; empty when nothing can be read.
  QByteArray Receive(qint64 maxBytes);
  void Send(const QByteArray& bytes);
  // Hands what waits for the batch to the system, the rest to the socket's
  // buffer.
  void Flush();
  // Hands what the system takes of the unsent data over and closes; no
  // signal follows.
  void Close();

 signals:
  void Received(CClientSocket* client, int kind);
  void Closed(CClientSocket* client, int kind);
  void Overflowed(CClientSocket* client, int kind);

 private:
  void NotifyReceive();
  void QueueNotifyReceive();
  void OnPeerClosed();
  qint64 QtHeldBytes();
  // Bytes the system has not yet had acknowledged by the client.
  qint64 SystemHeldBytes() const;

  QTcpSocket* m_socket;
  qintptr m_hSocket;
  quint64 m_nId;
  int m_nKind;
  ClientSendBatch& m_batch;
  // Waiting for the batch. Appended to for every client on every notice:
  // std::string's inline append cost a fraction of QByteArray's.
  std::string m_unsent;
  // As Qt last reported it: filters sends cheaply; the flush still asks Qt
  // before it uses the descriptor.
  bool m_bConnected;
  bool m_bQtHolds = false;  // data was handed to Qt's buffer and may still be there
  bool m_bNotifyQueued = false;
  bool m_bPeerClosed = false;
  bool m_bDropped = false;
  bool m_bClosed = false;
};

// A client's socket goes through the event loop when its entry goes, since
// the removal may run inside one of the socket's own signals.
struct DeleteClientSocketLater {
  void operator()(CClientSocket* socket) const { socket->deleteLater(); }
};
