#include "bench/clientfleet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QtEndian>
#include <cerrno>
#include <cstring>

#include "bench/hostconnection.h"
#include "core/relay/callnotice.h"

namespace {

// Well under the relay's listen queue, so that no connection waits for a SYN retry.
constexpr int kConnectBatch = 25;
constexpr int kBatchTimeoutMs = 20000;
constexpr int kAckBytes = 4;
constexpr int kCallerOffset = 8;
constexpr int kCallerBytes = 12;
constexpr int kStateOffset = 20;
constexpr char kRingLineLead = '\x07';
constexpr char kLineHeadEnd[] = " : ";
// One source address per hundred clients, and per hundred browsers, below
// the relay's limit per host, as desks on a floor.
constexpr int kClientsPerHost = 100;
constexpr quint32 kFirstClientHost = 0x7f060001;
constexpr quint32 kFirstBrowserHost = 0x7f050001;
constexpr uchar kTextFrame = 0x1;
constexpr QByteArrayView kRingEvent(R"("event":"ring")");
constexpr QByteArrayView kCallerField(R"("caller":")");

}  // namespace

void CloseAtOnce(int fd) {
  const linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(fd);
}

ClientFleet::ClientFleet(Options options, RingLedger& ledger)
    : m_options(std::move(options)), m_ledger(ledger), m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {}

// Closed with a reset: a thousand connections left in TIME_WAIT would hold
// ports that other programs on the machine may want to listen on.
ClientFleet::~ClientFleet() {
  delete m_notifier;
  for (const auto& client : m_clients) {
    if (client->fd >= 0) CloseAtOnce(client->fd);
  }
  ::close(m_epoll);
}

bool ClientFleet::Connect(QString* error) {
  const int total = m_options.extClients + m_options.ldkClients;
  for (int first = 0; first < total; first += kConnectBatch) {
    const int last = std::min(total, first + kConnectBatch);
    for (int n = first; n < last; ++n) {
      if (!OpenClient(n >= m_options.extClients, n, error)) return false;
    }
    const int64_t deadline = NowNs() + int64_t(kBatchTimeoutMs) * 1000000;
    while (m_nReady < last && m_nLost == 0 && NowNs() < deadline) ReadReady(256, 100);
    if (m_nReady < last) {
      *error =
          QStringLiteral("%1 of %2 clients ready, %3 lost").arg(m_nReady).arg(last).arg(m_nLost);
      return false;
    }
  }
  for (int n = 0; n < m_options.browsers; ++n) {
    if (!OpenBrowser(n, error)) return false;
  }
  return true;
}

void ClientFleet::Watch() {
  m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] { ReadReady(1024, 0); });
}

bool ClientFleet::OpenClient(bool ldk, int number, QString* error) {
  const int fd = ConnectFromHost(kFirstClientHost + quint32(number / kClientsPerHost),
                                 ldk ? m_options.ldkPort : m_options.extPort);
  if (fd < 0) {
    *error =
        QStringLiteral("client %1: %2").arg(number).arg(QString::fromLocal8Bit(strerror(errno)));
    return false;
  }
  if (!ldk) {
    const QByteArray text = m_options.registration + ",c" + QByteArray::number(number);
    if (::send(fd, text.constData(), size_t(text.size()), MSG_NOSIGNAL) != text.size()) {
      *error = QStringLiteral("client %1: registration not sent").arg(number);
      ::close(fd);
      return false;
    }
  }
  Client& client = Watch(fd);
  client.ldk = ldk;
  client.ackLeft = ldk ? 0 : kAckBytes;
  return true;
}

// Signed in before the next, on the relay's own time: no batch to wait for.
bool ClientFleet::OpenBrowser(int number, QString* error) {
  const int fd = SignInBrowser(kFirstBrowserHost + quint32(number / kClientsPerHost),
                               m_options.feedPort, kBrowserToken);
  if (fd < 0) {
    *error = QStringLiteral("browser %1: not signed in (%2)")
                 .arg(number)
                 .arg(QString::fromLocal8Bit(strerror(errno)));
    return false;
  }
  Client& client = Watch(fd);
  client.browser = true;
  client.ready = true;
  return true;
}

ClientFleet::Client& ClientFleet::Watch(int fd) {
  ::fcntl(fd, F_SETFL, O_NONBLOCK);
  auto client = std::make_unique<Client>();
  client->fd = fd;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.ptr = client.get();
  ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
  m_clients.push_back(std::move(client));
  return *m_clients.back();
}

void ClientFleet::ReadReady(int maxEvents, int timeoutMs) {
  epoll_event events[1024];
  const int count = ::epoll_wait(m_epoll, events, std::min(maxEvents, 1024), timeoutMs);
  for (int i = 0; i < count; ++i) Read(*static_cast<Client*>(events[i].data.ptr));
}

void ClientFleet::Read(Client& client) {
  char buffer[64 * 1024];
  const ssize_t count = ::read(client.fd, buffer, sizeof buffer);
  if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
    Drop(client);
    return;
  }
  if (count < 0) return;
  client.pending.append(buffer, count);
  if (client.browser) {
    TakeFrames(client);
  } else if (client.ldk) {
    TakeLines(client);
  } else {
    TakeRecords(client);
  }
}

void ClientFleet::TakeRecords(Client& client) {
  qsizetype used = 0;
  if (client.ackLeft > 0) {
    used = std::min<qsizetype>(client.ackLeft, client.pending.size());
    client.ackLeft -= int(used);
    if (client.ackLeft == 0) {
      client.ready = true;
      ++m_nReady;
    }
  }
  const int64_t now = NowNs();
  for (; client.pending.size() - used >= kCallNoticeSize; used += kCallNoticeSize) {
    // With send type 2 the answer's notice follows the ring's with the same caller.
    const char* record = client.pending.constData() + used;
    if (qFromLittleEndian<qint32>(record + kStateOffset) != kCallStateRinging) continue;
    const char* caller = record + kCallerOffset;
    TakeCaller(QByteArrayView(caller, qsizetype(strnlen(caller, kCallerBytes))), now);
  }
  client.pending.remove(0, used);
}

void ClientFleet::TakeLines(Client& client) {
  const int64_t now = NowNs();
  qsizetype start = 0;
  for (qsizetype end; (end = client.pending.indexOf('\n', start)) >= 0; start = end + 1) {
    const QByteArrayView line(client.pending.constData() + start, end - start);
    if (!client.ready) {
      client.ready = true;  // the greeting
      ++m_nReady;
      continue;
    }
    if (line.isEmpty() || line.front() != kRingLineLead) continue;  // the notice line
    const qsizetype head = line.indexOf(kLineHeadEnd);
    const QByteArrayView caller =
        head < 0 ? QByteArrayView() : line.sliced(head + qsizetype(strlen(kLineHeadEnd)));
    TakeCaller(caller, now);
  }
  client.pending.remove(0, start);
}

// The relay's frames are unmasked; a ring's caller is its JSON's "caller".
void ClientFleet::TakeFrames(Client& client) {
  const int64_t now = NowNs();
  qsizetype start = 0;
  for (;;) {
    const qsizetype available = client.pending.size() - start;
    const auto* frame = reinterpret_cast<const uchar*>(client.pending.constData() + start);
    if (available < 2) break;
    qsizetype header = 2;
    qsizetype length = frame[1] & 0x7f;
    if (length == 126) {
      header = 4;
      if (available < header) break;
      length = qFromBigEndian<quint16>(frame + 2);
    } else if (length == 127) {
      header = 10;
      if (available < header) break;
      length = qsizetype(qFromBigEndian<quint64>(frame + 2));
    }
    if (available < header + length) break;
    const QByteArrayView text(frame + header, length);
    const qsizetype caller = text.indexOf(kCallerField);
    if ((frame[0] & 0x0f) == kTextFrame && text.contains(kRingEvent) && caller >= 0) {
      const QByteArrayView rest = text.sliced(caller + kCallerField.size());
      TakeCaller(rest.first(std::max<qsizetype>(rest.indexOf('"'), 0)), now, RingLedger::kBrowsers);
    }
    start += header + length;
  }
  client.pending.remove(0, start);
}

void ClientFleet::TakeCaller(QByteArrayView caller, int64_t now, RingLedger::Group group) {
  const int64_t seq = RingLedger::SeqOfCaller(caller.data(), size_t(caller.size()));
  if (seq < 0) {
    ++m_nGarbled;
  } else {
    m_ledger.Delivered(seq, now, group);
  }
}

void ClientFleet::Drop(Client& client) {
  ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, client.fd, nullptr);
  ::close(client.fd);
  client.fd = -1;
  ++m_nLost;
}
