// The relay's client side on the real core: each input is up to three
// clients of either kind that send pieces of any bytes, then a call notice
// to all of them, then their closes. Every registration text keeps one row,
// no longer than a filed text, owned by an open extension client; an LDK505
// client gets its greeting and its two lines and nothing else; a client that
// closed leaves nothing behind, and no client owns more rows than the bound.
#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/centrixcore.h"
#include "core/config/settingsstore.h"
#include "core/relay/clientprotocol.h"
#include "support/fuzzapp.h"
#include "support/fuzzcheck.h"
#include "tests/support/idletelcontrol.h"

namespace {

constexpr int kWaitMs = 10000;
constexpr int kMaxClients = 3;
constexpr int kMaxPieces = 16;

// The core with its settings, log directory and free ports, for the whole run.
struct Relay {
  QTemporaryDir directory;
  std::unique_ptr<SettingsStore> settings;
  std::unique_ptr<CentrixCore> core;
};
Relay* relay = nullptr;

// A plain POSIX client on loopback that never blocks, so that the core in
// the same thread keeps serving while it waits.
class RawClient {
 public:
  RawClient(quint16 port, bool ldk) : ldk(ldk) {
    // Under churn every local port can be briefly held by closed connections: try again.
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
      m_fd = Connect(port);
      if (m_fd < 0) PumpUntil([] { return false; }, 10);
    }
    FUZZ_CHECK(m_fd >= 0);
  }
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  void Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n =
          ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0) {
        sent += size_t(n);
      } else {
        FUZZ_CHECK(errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        QCoreApplication::processEvents();
      }
    }
  }

  const QByteArray& Received() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(m_fd, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0)
      m_received.append(buffer, n);
    return m_received;
  }

  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

  const bool ldk;

 private:
  // A connected descriptor, or -1 with the reason on standard error.
  static int Connect(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    FUZZ_CHECK(fd >= 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        pollfd writable{fd, POLLOUT, 0};
        FUZZ_CHECK(PumpUntil([&] { return ::poll(&writable, 1, 0) > 0; }, kWaitMs));
        socklen_t length = sizeof(error);
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      }
    }
    if (error == 0) return fd;
    std::fprintf(stderr, "connect: %s\n", std::strerror(error));
    ::close(fd);
    return -1;
  }

  int m_fd = -1;
  QByteArray m_received;
};

void CheckClientTables(const ClientRegistry& registry) {
  QSet<QByteArray> texts;
  // Every row's owner is an open extension client's entry.
  std::map<const MEMBER*, int> rowsOf;
  for (const auto& [id, member] : registry.Table(kExtensionClient)) rowsOf[member.get()] = 0;
  for (const ClientRow& row : registry.Rows()) {
    FUZZ_CHECK(!row.text.isEmpty() && row.text.size() <= kMaxRegistrationBytes);
    // The number that made it a registration may lie past the cut, so only the NUL is sure.
    FUZZ_CHECK(!row.text.contains('\0'));
    FUZZ_CHECK(!texts.contains(row.text));
    texts.insert(row.text);
    const auto owner = rowsOf.find(registry.Owner(row));
    FUZZ_CHECK(owner != rowsOf.end());
    ++owner->second;
  }
  for (const auto& [id, member] : registry.Table(kExtensionClient)) {
    FUZZ_CHECK(member->szExtension.size() <= kMaxRegistrationBytes);
    FUZZ_CHECK(member->rowCount == rowsOf[member.get()]);
    FUZZ_CHECK(member->rowCount <= ClientRegistry::kMaxRowsPerClient);
  }
  for (const auto& [id, member] : registry.Table(kLdkClient)) {
    FUZZ_CHECK(member->szExtension.isEmpty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  StartFuzzApplication(argc, argv);
  relay = new Relay;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     relay->directory.filePath(QStringLiteral("settings")));
  relay->settings =
      std::make_unique<SettingsStore>(QStringLiteral("MERVO"), QStringLiteral("TarvexFuzz"));
  CoreContext context;
  context.settings = relay->settings.get();
  context.telControlFactory = [](int controlId) {
    return std::make_unique<IdleTelControl>(controlId);
  };
  context.logDirectory = relay->directory.filePath(QStringLiteral("CIDLog"));
  context.extPort = 0;  // any free port
  context.ldkPort = 0;
  relay->core = std::make_unique<CentrixCore>(std::move(context));
  FUZZ_CHECK(relay->core->Start());
  FUZZ_CHECK(relay->core->Relay().Server(kExtensionClient).isListening());
  FUZZ_CHECK(relay->core->Relay().Server(kLdkClient).isListening());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CentrixCore& core = *relay->core;
  ClientRelay& clientRelay = core.Relay();
  const ClientRegistry& registry = clientRelay.Registry();
  const ClientTable& extensionClients = registry.Table(kExtensionClient);
  const ClientTable& ldkClients = registry.Table(kLdkClient);
  FuzzedDataProvider input(data, size);
  core.SetLogType(input.ConsumeBool() ? 1 : 0);
  const bool everyRow = input.ConsumeIntegralInRange<int>(0, 2) == 2;
  const qint32 accountExt = input.ConsumeIntegralInRange<qint32>(-1, 400);
  const qint32 inExten = input.ConsumeIntegral<qint32>();
  const qint32 state = input.ConsumeIntegralInRange<qint32>(kCallStateRinging, kCallStateAnswer);
  const std::string caller = input.ConsumeRandomLengthString(14);
  const int clientCount = input.ConsumeIntegralInRange<int>(1, kMaxClients);

  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < clientCount; ++i) {
    const bool ldk = input.ConsumeIntegralInRange<int>(0, 3) == 0;
    clients.push_back(std::make_unique<RawClient>(
        clientRelay.Server(ldk ? kLdkClient : kExtensionClient).serverPort(), ldk));
  }
  for (int piece = 0; piece < kMaxPieces && input.remaining_bytes() > 0; ++piece) {
    RawClient& client = *clients[input.ConsumeIntegralInRange<size_t>(0, clients.size() - 1)];
    client.Send(input.ConsumeRandomLengthString(2 * kMaxReceiveBytes));
    QCoreApplication::processEvents();
  }
  FUZZ_CHECK(PumpUntil(
      [&] { return extensionClients.size() + ldkClients.size() == clients.size(); }, kWaitMs));
  QCoreApplication::processEvents();
  CheckClientTables(registry);

  const CallNotice notice = MakeCallNotice(
      accountExt, inExten, QByteArray(caller.data(), qsizetype(caller.size())), state);
  clientRelay.BroadcastCallNotice(notice, everyRow);
  const QByteArray ldkExpected =
      GreetingText() + (accountExt != 0 ? LdkRingLine(notice) + LdkNoticeLine(notice) : "");
  for (const auto& client : clients) {
    if (!client->ldk) continue;
    FUZZ_CHECK(PumpUntil([&] { return client->Received().size() >= ldkExpected.size(); }, kWaitMs));
    QCoreApplication::processEvents();
    FUZZ_CHECK(client->Received() == ldkExpected);
  }
  CheckClientTables(registry);

  for (const auto& client : clients) client->Close();
  FUZZ_CHECK(PumpUntil(
      [&] { return extensionClients.empty() && ldkClients.empty() && registry.Rows().empty(); },
      kWaitMs));
  core.Activity().TrimActivityList();
  return 0;
}
