#include "core/relay/clientsocket.h"

#include "core/relay/ipv4text.h"
#include "core/relay/sendnow.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

CClientSocket::CClientSocket(QTcpSocket* socket, quint64 id, int kind, ClientSendBatch& batch,
                             QObject* parent)
    : QObject(parent),
      m_socket(socket),
      m_hSocket(socket->socketDescriptor()),
      m_nId(id),
      m_nKind(kind),
      m_batch(batch),
      m_bConnected(socket->state() == QAbstractSocket::ConnectedState) {
  m_socket->setParent(this);
  m_socket->setReadBufferSize(kMaxReadAheadBytes);
  // A notice is one small record: it must not wait for the client to
  // acknowledge the one before it.
  m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  const int sendBuffer = kSendBufferBytes;
  ::setsockopt(int(m_hSocket), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  // A notification already waiting in the event loop will read this data too.
  connect(m_socket, &QTcpSocket::readyRead, this, [this] {
    if (!m_bNotifyQueued) NotifyReceive();
  });
  // Qt has no half-open sockets: the end of the peer's data ends the client.
  connect(m_socket, &QTcpSocket::readChannelFinished, this, &CClientSocket::OnPeerClosed);
  connect(m_socket, &QTcpSocket::disconnected, this, &CClientSocket::OnPeerClosed);
  connect(m_socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
    m_bConnected = state == QAbstractSocket::ConnectedState;
  });
}

CClientSocket::~CClientSocket() { Close(); }

QByteArray CClientSocket::PeerAddress() const { return DottedIpv4(m_socket->peerAddress()); }

QByteArray CClientSocket::Receive(qint64 maxBytes) { return m_socket->read(maxBytes); }

void CClientSocket::Send(const QByteArray& bytes) {
  if (m_bDropped || m_bClosed || !m_bConnected) return;
  if (m_unsent.empty()) m_batch.Add(this);
  m_unsent.append(bytes.constData(), size_t(bytes.size()));
  const qint64 qtHeld = QtHeldBytes();
  // The system is asked only once it has refused data: a call per notice otherwise.
  if (qint64(m_unsent.size()) + qtHeld + (qtHeld > 0 ? SystemHeldBytes() : 0) <= kMaxUnsentBytes) {
    return;
  }
  // Judge by what the system would not take, not by how long ago the event
  // loop last wrote.
  Flush();
  m_socket->flush();
  if (m_socket->bytesToWrite() + SystemHeldBytes() <= kMaxUnsentBytes) return;
  m_bDropped = true;
  QMetaObject::invokeMethod(
      this, [this] { emit Overflowed(this, m_nKind); }, Qt::QueuedConnection);
}

// Straight to the system while Qt holds nothing back for the client: a
// socket write through Qt costs a write notifier round trip through the
// event loop, and with a thousand clients those round trips were most of
// the time a notice took.
void CClientSocket::Flush() {
  if (m_unsent.empty()) return;
  // Qt closes the descriptor as soon as the connection ends, and the system
  // may hand its number to the next client: what was left is for no one.
  if (m_socket->state() != QAbstractSocket::ConnectedState) {
    m_unsent.clear();
    return;
  }
  size_t sent = 0;
  if (QtHeldBytes() == 0)
    sent = size_t(SendNow(*m_socket, m_unsent.data(), qsizetype(m_unsent.size())));
  if (sent < m_unsent.size()) {
    m_socket->write(m_unsent.data() + sent, qint64(m_unsent.size() - sent));
    m_bQtHolds = true;
  }
  m_unsent.clear();
}

// Qt is asked only once the relay has handed it data: a call into the
// socket per client and notice showed in every profile.
qint64 CClientSocket::QtHeldBytes() {
  if (!m_bQtHolds) return 0;
  const qint64 held = m_socket->bytesToWrite();
  m_bQtHolds = held > 0;
  return held;
}

qint64 CClientSocket::SystemHeldBytes() const {
  int queued = 0;
  return ::ioctl(int(m_hSocket), SIOCOUTQ, &queued) == 0 ? queued : 0;
}

void CClientSocket::Close() {
  if (m_bClosed) return;
  Flush();
  m_bClosed = true;
  m_batch.Forget(this);
  m_socket->disconnect(this);
  m_socket->flush();
  m_socket->abort();
}

// One Received per call; leftover data gets another call from the event loop,
// as the platform would notify again after a partial read.
void CClientSocket::NotifyReceive() {
  if (m_bClosed) return;
  if (m_socket->bytesAvailable() > 0) {
    emit Received(this, m_nKind);
    if (m_socket->bytesAvailable() > 0) {
      QueueNotifyReceive();
      return;
    }
  }
  if (m_bPeerClosed) emit Closed(this, m_nKind);
}

void CClientSocket::QueueNotifyReceive() {
  if (m_bNotifyQueued) return;
  m_bNotifyQueued = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        m_bNotifyQueued = false;
        NotifyReceive();
      },
      Qt::QueuedConnection);
}

// The close is reported after the data before it, and never from inside a send.
void CClientSocket::OnPeerClosed() {
  m_bPeerClosed = true;
  QueueNotifyReceive();
}
