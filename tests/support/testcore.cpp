#include "support/testcore.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTcpServer>
#include <cerrno>

#include "support/idletelcontrol.h"
#include "support/qtwait.h"

namespace {

const QString kOrganization = QStringLiteral("MERVO");
const QString kApplication = QStringLiteral("TarvexTest");

}  // namespace

MessageAnswer ScriptedPresenter::Show(const QString& caption, const QByteArray& text,
                                      MessageButtons buttons, MessageIcon icon) {
  shown.push_back({caption, text, buttons, icon});
  if (!answers.empty()) {
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

quint16 FreeTcpPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::AnyIPv4, 0);
  return probe.serverPort();
}

TelControlFactory IdleTelControlFactory() {
  return [](int controlId) { return std::make_unique<IdleTelControl>(controlId); };
}

TestEnvironment::TestEnvironment()
    : logDirectory(directory.filePath(QStringLiteral("CIDLog"))),
      extPort(FreeTcpPort()),
      ldkPort(FreeTcpPort()) {
  while (ldkPort == extPort) ldkPort = FreeTcpPort();
}

SettingsStore& TestEnvironment::Settings() {
  if (!m_settings) {
    // Global to the process, so set again in case another environment moved it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       directory.filePath(QStringLiteral("settings")));
    m_settings = std::make_unique<SettingsStore>(kOrganization, kApplication);
  }
  return *m_settings;
}

QString TestEnvironment::ApplicationName() { return kApplication; }

CoreContext TestEnvironment::Context(TelControlFactory factory) {
  CoreContext context;
  context.settings = &Settings();
  context.database = database;
  context.telControlFactory = factory ? std::move(factory) : IdleTelControlFactory();
  context.logDirectory = logDirectory;
  context.extPort = extPort;
  context.ldkPort = ldkPort;
  context.clock = clock;
  return context;
}

std::unique_ptr<CentrixCore> StartCore(TestEnvironment& environment, TelControlFactory factory) {
  auto core = std::make_unique<CentrixCore>(environment.Context(std::move(factory)));
  if (!core->Start()) return nullptr;
  return core;
}

TestClient::TestClient(quint16 port, int receiveBufferBytes, quint32 sourceIpv4)
    : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  if (m_fd < 0) return;
  if (receiveBufferBytes > 0) {
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof(receiveBufferBytes));
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(sourceIpv4);
  if (sourceIpv4 != 0) ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

TestClient::~TestClient() { Close(); }

bool TestClient::Send(const QByteArray& bytes) {
  qsizetype sent = 0;
  while (IsConnected() && sent < bytes.size()) {
    const ssize_t n = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent),
                             MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      sent += n;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    } else {
      return false;
    }
  }
  return sent == bytes.size();
}

bool TestClient::SendBlocking(const QByteArray& bytes) {
  qsizetype sent = 0;
  while (IsConnected() && sent < bytes.size()) {
    const ssize_t n =
        ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
    if (n > 0) {
      sent += n;
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return sent == bytes.size();
}

int TestClient::BytesUnread() const {
  int bytes = 0;
  return m_fd >= 0 && ::ioctl(m_fd, FIONREAD, &bytes) == 0 ? bytes : 0;
}

QByteArray TestClient::ReceiveBlocking(qsizetype maxBytes) {
  QByteArray bytes(maxBytes, Qt::Uninitialized);
  ssize_t n;
  do {
    n = ::recv(m_fd, bytes.data(), size_t(maxBytes), 0);
  } while (n < 0 && errno == EINTR);
  bytes.resize(n > 0 ? n : 0);
  return bytes;
}

void TestClient::ShutdownWrite() {
  if (m_fd >= 0) ::shutdown(m_fd, SHUT_WR);
}

void TestClient::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

void TestClient::ReadAvailable() {
  char buffer[65536];
  while (m_fd >= 0 && !m_peerClosed) {
    const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (n > 0) {
      m_received.append(buffer, n);
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      m_peerClosed = true;
    } else {
      return;
    }
  }
}

const QByteArray& TestClient::Received() {
  ReadAvailable();
  return m_received;
}

bool TestClient::WaitForBytes(qsizetype count, int timeoutMs) {
  return WaitUntil([&] { return Received().size() >= count || m_peerClosed; }, timeoutMs) &&
         m_received.size() >= count;
}

bool TestClient::WaitForPeerClose(int timeoutMs) {
  return WaitUntil(
      [&] {
        ReadAvailable();
        return m_peerClosed;
      },
      timeoutMs);
}
