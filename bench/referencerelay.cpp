// referencerelay: the least a relay must do, as a yardstick for the benchmark.
// The same telephony sign-in and the same fan-out of the 24-byte record and the
// LDK505 lines as the relay with send type 0, on one epoll loop: no window, no
// activity list, no log file, no database. Ports come from the relay's
// variables (TARVEX_EXT_PORT, TARVEX_LDK_PORT, TARVEX_TEL_PORT); accounts are
// arguments "ID:PASSWORD", signed in at 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QList>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "core/relay/clientregistry.h"
#include "core/telephony/telprotocol.h"
#include "core/text/eventtext.h"

namespace {

// Same bound as the relay's: a client this far behind is let go.
constexpr size_t kMaxUnsentBytes = 64 * 1024;
// Callers this short are internal numbers, not relayed.
constexpr qsizetype kMaxLocalCallerLength = 8;

enum class Kind { ExtListener, LdkListener, Telephony, ExtClient, LdkClient, Signal };

struct Endpoint {
  int fd = -1;
  Kind kind = Kind::ExtClient;
  bool closed = false;
  bool queued = false;    // due for a flush at the end of this round
  bool writable = false;  // waiting for room in the socket (EPOLLOUT)
  std::string unsent;
  // Extension clients: the registration texts; telephony: the account's extension.
  std::vector<QByteArray> registrations;
  QByteArray extension;
  TelLineReader reader;
};

class ReferenceRelay {
 public:
  bool Start(quint16 extPort, quint16 ldkPort, quint16 telPort, const QStringList& accounts);
  void Run();

 private:
  bool Listen(quint16 port, Kind kind);
  void Add(int fd, Kind kind, uint32_t events);
  void Close(Endpoint& endpoint);
  void Accept(const Endpoint& listener);
  void Read(Endpoint& endpoint);
  void Flush(Endpoint& endpoint);
  void FlushQueued();
  void WatchWritable(Endpoint& endpoint, bool on);
  void Send(Endpoint& endpoint, const QByteArray& bytes);
  void HandleTelLine(Endpoint& telephony, const QByteArray& line);
  void Broadcast(const CallNotice& notice);

  int m_epoll = -1;
  bool m_bRunning = true;
  std::unordered_map<int, std::unique_ptr<Endpoint>> m_endpoints;
  // Closed in this round of the loop; freed after it, so that no loop over
  // the table or over the round's events meets a freed endpoint.
  std::vector<int> m_closed;
  // Sends wait for the end of the round, so that a burst of events costs
  // each client one system call, not one per event.
  std::vector<Endpoint*> m_queued;
};

bool ReferenceRelay::Start(quint16 extPort, quint16 ldkPort, quint16 telPort,
                           const QStringList& accounts) {
  m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &endSignals, nullptr);
  Add(::signalfd(-1, &endSignals, SFD_CLOEXEC | SFD_NONBLOCK), Kind::Signal, EPOLLIN);
  if (!Listen(extPort, Kind::ExtListener) || !Listen(ldkPort, Kind::LdkListener)) return false;

  for (const QString& account : accounts) {
    const QStringList parts = account.split(QLatin1Char(':'));
    if (parts.size() != 2) return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(telPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    Add(fd, Kind::Telephony, EPOLLIN);
    Send(*m_endpoints[fd],
         EncodeTelLine({kTelLogin.toByteArray(), parts[0].toUtf8(), parts[1].toUtf8()}));
  }
  return true;
}

bool ReferenceRelay::Listen(quint16 port, Kind kind) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    std::perror("referencerelay: listen");
    return false;
  }
  Add(fd, kind, EPOLLIN);
  return true;
}

void ReferenceRelay::Add(int fd, Kind kind, uint32_t events) {
  auto endpoint = std::make_unique<Endpoint>();
  endpoint->fd = fd;
  endpoint->kind = kind;
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
  m_endpoints[fd] = std::move(endpoint);
}

void ReferenceRelay::Close(Endpoint& endpoint) {
  if (endpoint.closed) return;
  endpoint.closed = true;
  ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, endpoint.fd, nullptr);
  m_closed.push_back(endpoint.fd);
}

void ReferenceRelay::Run() {
  std::vector<epoll_event> events(256);
  FlushQueued();  // the sign-ins
  while (m_bRunning) {
    const int count = ::epoll_wait(m_epoll, events.data(), int(events.size()), -1);
    for (int i = 0; i < count && m_bRunning; ++i) {
      Endpoint& endpoint = *m_endpoints.at(events[size_t(i)].data.fd);
      if (endpoint.closed) {
        continue;
      } else if (endpoint.kind == Kind::Signal) {
        m_bRunning = false;
      } else if (endpoint.kind == Kind::ExtListener || endpoint.kind == Kind::LdkListener) {
        Accept(endpoint);
      } else if (events[size_t(i)].events & EPOLLOUT) {
        Flush(endpoint);
      } else {
        Read(endpoint);
      }
    }
    FlushQueued();
    for (const int fd : m_closed) {
      ::close(fd);
      m_endpoints.erase(fd);
    }
    m_closed.clear();
  }
}

void ReferenceRelay::FlushQueued() {
  for (Endpoint* endpoint : m_queued) {
    endpoint->queued = false;
    Flush(*endpoint);
  }
  m_queued.clear();
}

void ReferenceRelay::Accept(const Endpoint& listener) {
  const bool ldk = listener.kind == Kind::LdkListener;
  for (;;) {
    const int fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Add(fd, ldk ? Kind::LdkClient : Kind::ExtClient, EPOLLIN);
    if (ldk) Send(*m_endpoints[fd], GreetingText());
  }
}

void ReferenceRelay::Read(Endpoint& endpoint) {
  char buffer[kMaxReceiveBytes];
  const ssize_t count = ::read(endpoint.fd, buffer, sizeof buffer);
  if (count <= 0) {
    Close(endpoint);
    return;
  }
  const QByteArray bytes(buffer, count);
  if (endpoint.kind == Kind::Telephony) {
    for (const QByteArray& line : endpoint.reader.Feed(bytes)) HandleTelLine(endpoint, line);
  } else if (endpoint.kind == Kind::ExtClient) {
    const QByteArray text = ReceivedText(bytes);
    if (LeadingInt(text) == 0) return;
    // The relay's bound: a client flooding texts gets no more rows.
    if (endpoint.registrations.size() >= size_t(ClientRegistry::kMaxRowsPerClient)) return;
    endpoint.registrations.push_back(CutRegistrationText(text));
    Send(endpoint, RegisterAck());
  }
}

void ReferenceRelay::HandleTelLine(Endpoint& telephony, const QByteArray& line) {
  const std::optional<QList<QByteArray>> fields = DecodeTelLine(line);
  if (!fields || fields->size() < 3 || fields->at(0) != kTelEvent) return;
  const QByteArray& name = fields->at(1);
  const QByteArray& text = fields->at(2);
  if (name == kTelLoginResult) {
    if (!LoginSucceeded(text)) return;
    const QByteArray number = GetEventField(text, "MSG", 1, ',');
    telephony.extension = QByteArray::number(ParseLooseInt(LastBytes(number, 3)));
  } else if (name == kTelRing && !telephony.extension.isEmpty()) {
    if (GetEventField(text, "ISDIAL", 1, '|') == "1") return;
    const QByteArray caller = GetEventField(text, "CALLERID", 1, '|');
    if (caller.size() <= kMaxLocalCallerLength) return;
    const QByteArray inbound = GetEventField(text, "INEXTEN", 1, '|');
    Broadcast(MakeCallNotice(telephony.extension.toInt(), ParseLooseInt(LastBytes(inbound, 4)),
                             caller, kCallStateRinging));
  }
}

void ReferenceRelay::Broadcast(const CallNotice& notice) {
  const QByteArray extension = QByteArray::number(notice.accountExt);
  const QByteArray record = EncodeCallNotice(notice);
  const QByteArray ldkLines = LdkRingLine(notice) + LdkNoticeLine(notice);
  for (auto& [fd, endpoint] : m_endpoints) {
    if (endpoint->closed) continue;
    if (endpoint->kind == Kind::LdkClient) {
      Send(*endpoint, ldkLines);
    } else if (endpoint->kind == Kind::ExtClient) {
      for (const QByteArray& registration : endpoint->registrations) {
        if (registration.contains(extension)) Send(*endpoint, record);
      }
    }
  }
}

void ReferenceRelay::Send(Endpoint& endpoint, const QByteArray& bytes) {
  if (endpoint.closed) return;
  endpoint.unsent.append(bytes.constData(), size_t(bytes.size()));
  if (endpoint.unsent.size() > kMaxUnsentBytes) {
    Close(endpoint);
  } else if (!endpoint.queued && !endpoint.writable) {
    endpoint.queued = true;
    m_queued.push_back(&endpoint);
  }
}

void ReferenceRelay::Flush(Endpoint& endpoint) {
  if (endpoint.closed) return;
  const ssize_t sent =
      ::send(endpoint.fd, endpoint.unsent.data(), endpoint.unsent.size(), MSG_NOSIGNAL);
  if (sent < 0 && errno != EAGAIN && errno != EINTR) {
    Close(endpoint);
    return;
  }
  endpoint.unsent.erase(0, sent < 0 ? 0 : size_t(sent));
  WatchWritable(endpoint, !endpoint.unsent.empty());
}

void ReferenceRelay::WatchWritable(Endpoint& endpoint, bool on) {
  if (endpoint.writable == on) return;
  endpoint.writable = on;
  epoll_event event{};
  event.events = on ? EPOLLIN | EPOLLOUT : EPOLLIN;
  event.data.fd = endpoint.fd;
  ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, endpoint.fd, &event);
}

quint16 PortFromEnvironment(const char* name, quint16 def) {
  const char* value = std::getenv(name);
  const int port = value ? std::atoi(value) : 0;
  return port > 0 && port <= 65535 ? quint16(port) : def;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList accounts;
  for (int i = 1; i < argc; ++i) accounts.append(QString::fromLocal8Bit(argv[i]));
  ReferenceRelay relay;
  if (!relay.Start(PortFromEnvironment("TARVEX_EXT_PORT", 8688),
                   PortFromEnvironment("TARVEX_LDK_PORT", 5100),
                   PortFromEnvironment("TARVEX_TEL_PORT", kDefaultTelephonyPort), accounts)) {
    std::fprintf(stderr, "referencerelay: start-up failed\n");
    return 1;
  }
  relay.Run();
  return 0;
}
