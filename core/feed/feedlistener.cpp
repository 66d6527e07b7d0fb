#include "core/feed/feedlistener.h"

#include <QPointer>
#include <QSslSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QHostAddress PeerOf(qintptr descriptor) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(int(descriptor), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return {};
  }
  return QHostAddress(reinterpret_cast<const sockaddr*>(&address));
}

// Counts a connection for its host while its socket lives, and closes it
// after its time for a request unless it became a WebSocket. A child of the
// socket: the WebSocket that takes the socket over cuts its signals.
class HostShare : public QObject {
 public:
  HostShare(FeedListener* listener, QByteArray host, QTcpSocket* socket,
            QHash<QPair<QHostAddress, quint16>, FeedListener::OpenConnection>& open)
      : QObject(socket),
        m_listener(listener),
        m_host(std::move(host)),
        m_peer(socket->peerAddress(), socket->peerPort()),
        m_open(open) {
    m_open.insert(m_peer, {socket, &m_webSocket});
    QTimer::singleShot(FeedListener::kRequestMs, this, [this, socket] {
      if (!m_webSocket) socket->abort();
    });
  }
  ~HostShare() override {
    if (!m_listener) return;
    m_listener->Rules().Left(m_host);
    m_open.remove(m_peer);
  }

 private:
  QPointer<FeedListener> m_listener;
  QByteArray m_host;
  QPair<QHostAddress, quint16> m_peer;
  QHash<QPair<QHostAddress, quint16>, FeedListener::OpenConnection>& m_open;  // the listener's
  bool m_webSocket = false;
};

}  // namespace

FeedListener::FeedListener(QObject* parent) : QTcpServer(parent) {}

QTcpSocket* FeedListener::KeepOpen(const QHostAddress& peer, quint16 port) {
  const auto open = m_open.constFind({peer, port});
  if (open == m_open.cend()) return nullptr;
  *open->webSocket = true;
  return open->socket;
}

void FeedListener::incomingConnection(qintptr descriptor) {
  // What waits for a browser is bounded by the feed, not by a system buffer
  // that grows to megabytes for each.
  ::setsockopt(int(descriptor), SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
  // The feed sends what it gathered at once; Nagle would hold a ring behind
  // the browser's delayed acknowledgement of the frames before it.
  const int noDelay = 1;
  ::setsockopt(int(descriptor), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  const QHostAddress peer = PeerOf(descriptor);
  const QByteArray host = ClientAdmission::HostOf(peer);
  const Admission admission = peer.isNull() ? Admission::NotAllowed : m_admission.Admit(0, peer);
  if (admission != Admission::Admitted) {
    ::close(int(descriptor));
    emit Refused(host, admission);
    return;
  }
  QTcpSocket* socket = IsEncrypted() ? new QSslSocket(this) : new QTcpSocket(this);
  if (!socket->setSocketDescriptor(descriptor)) {
    ::close(int(descriptor));
    delete socket;
    m_admission.Left(host);
    return;
  }
  new HostShare(this, host, socket, m_open);
  if (IsEncrypted()) {
    StartHandshake(static_cast<QSslSocket*>(socket), host);
  } else {
    addPendingConnection(socket);
  }
}

// The socket comes out once its handshake is done; a client that fails it
// or stays silent is let go.
void FeedListener::StartHandshake(QSslSocket* socket, const QByteArray& host) {
  socket->setSslConfiguration(m_tls);
  // The handshake's connections end with it, whatever its outcome.
  auto* handshake = new QObject(socket);
  connect(socket, &QSslSocket::encrypted, handshake, [this, socket, handshake] {
    QObject::disconnect(socket, nullptr, handshake, nullptr);
    handshake->deleteLater();  // and its time limit
    addPendingConnection(socket);
  });
  const auto fail = [this, socket, handshake, host](const QString& error) {
    QObject::disconnect(socket, nullptr, handshake, nullptr);
    emit HandshakeFailed(host, error);
    socket->abort();
    socket->deleteLater();
  };
  connect(socket, &QSslSocket::errorOccurred, handshake,
          [socket, fail] { fail(socket->errorString()); });
  QTimer::singleShot(kHandshakeMs, handshake, [socket, fail] {
    if (!socket->isEncrypted()) fail(QStringLiteral("no handshake"));
  });
  socket->startServerEncryption();
}
