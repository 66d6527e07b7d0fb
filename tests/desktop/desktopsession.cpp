#include "desktop/desktopsession.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include "support/qtwait.h"

namespace {

constexpr int kToolTimeoutMs = 15000;
constexpr int kStartTimeoutMs = 20000;

}  // namespace

DesktopSession::~DesktopSession() {
  // The window manager and the tray go before the server they draw on.
  for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
    (*it)->terminate();
    if (!(*it)->waitForFinished(5000)) (*it)->kill();
    (*it)->waitForFinished(5000);
  }
}

bool DesktopSession::StartProcess(const QString& program, const QStringList& arguments) {
  auto process = std::make_unique<QProcess>();
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  if (!m_display.isEmpty()) environment.insert(QStringLiteral("DISPLAY"), m_display);
  process->setProcessEnvironment(environment);
  process->setProcessChannelMode(QProcess::SeparateChannels);
  process->start(program, arguments);
  if (!process->waitForStarted(kStartTimeoutMs)) {
    m_lastError = program + QStringLiteral(" did not start: ") + process->errorString();
    return false;
  }
  m_processes.push_back(std::move(process));
  return true;
}

bool DesktopSession::Start() {
  // -displayfd 1: the server picks a free display and writes its number to stdout.
  if (!StartProcess(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp")})) {
    return false;
  }
  QProcess& server = *m_processes.front();
  QByteArray number;
  WaitUntil(
      [&] {
        number += server.readAllStandardOutput();
        return number.contains('\n') || server.state() == QProcess::NotRunning;
      },
      kStartTimeoutMs);
  if (!number.contains('\n')) {
    m_lastError = QStringLiteral("Xvfb gave no display: ") + server.readAllStandardError();
    return false;
  }
  m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
  return StartUntil(QStringLiteral("openbox"), {}, [this] { return WindowManagerRunning(); }) &&
         StartUntil(
             QStringLiteral("trayer"),
             {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
              QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
              QStringLiteral("--height"), QStringLiteral("24"), QStringLiteral("--SetDockType"),
              QStringLiteral("true"), QStringLiteral("--transparent"), QStringLiteral("false")},
             [this] { return NotificationAreaShown(); });
}

// Now and then a part started right after the one before it does not come
// up (a panel mapped while openbox is still taking over the screen stays
// unmapped); a fresh start of it then does.
bool DesktopSession::StartUntil(const QString& program, const QStringList& arguments,
                                const std::function<bool()>& ready) {
  constexpr int kAttempts = 3;
  QByteArray errors;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!StartProcess(program, arguments)) return false;
    if (WaitUntil(ready, kStartTimeoutMs / kAttempts)) return true;
    QProcess& process = *m_processes.back();
    process.kill();
    process.waitForFinished(5000);
    errors += process.readAllStandardError();
    m_processes.pop_back();
  }
  m_lastError = QStringLiteral("%1 did not come up on %2: %3")
                    .arg(program, m_display, QString::fromLocal8Bit(errors));
  return false;
}

bool DesktopSession::WindowManagerRunning() const {
  return Run(QStringLiteral("xprop"),
             {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
      .contains("window id");
}

bool DesktopSession::NotificationAreaShown() const {
  return !Run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                          QStringLiteral("--class"), QStringLiteral("trayer")})
              .trimmed()
              .isEmpty();
}

QByteArray DesktopSession::Run(const QString& program, const QStringList& arguments) const {
  QProcess tool;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DISPLAY"), m_display);
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  tool.setProcessEnvironment(environment);
  tool.start(program, arguments);
  if (!tool.waitForFinished(kToolTimeoutMs)) {
    tool.kill();
    tool.waitForFinished();
    return {};
  }
  return tool.exitCode() == 0 ? tool.readAllStandardOutput() : QByteArray();
}

QList<XWindow> ProcessWindows::Visible() const {
  const QByteArray ids = m_session.Run(QStringLiteral("xdotool"),
                                       {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--pid"), QString::number(m_processId)});
  QList<XWindow> windows;
  for (const QByteArray& id : ids.split('\n')) {
    if (id.trimmed().isEmpty()) continue;
    XWindow window;
    window.id = id.trimmed();
    const QByteArray properties =
        m_session.Run(QStringLiteral("xprop"),
                      {QStringLiteral("-id"), QString::fromLatin1(window.id),
                       QStringLiteral("-notype"), QStringLiteral("_NET_WM_NAME"),
                       QStringLiteral("_NET_WM_WINDOW_TYPE"), QStringLiteral("WM_STATE")});
    for (const QByteArray& line : properties.split('\n')) {
      if (line.startsWith("_NET_WM_NAME = ")) {
        window.title = line.mid(15).trimmed();
        if (window.title.startsWith('"') && window.title.endsWith('"')) {
          window.title = window.title.mid(1, window.title.size() - 2);
        }
      } else if (line.startsWith("_NET_WM_WINDOW_TYPE = ")) {
        window.types = line.mid(22);
      }
    }
    window.managed = properties.contains("window state:");
    windows << window;
  }
  return windows;
}

bool ProcessWindows::IsViewable(const QByteArray& id) const {
  return m_session.Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::fromLatin1(id)})
      .contains("Map State: IsViewable");
}

QRect ProcessWindows::Geometry(const QByteArray& id) const {
  const QByteArray shell = m_session.Run(
      QStringLiteral("xdotool"),
      {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), QString::fromLatin1(id)});
  const auto field = [&shell](const char* name) {
    const QRegularExpression pattern(QStringLiteral("^%1=(-?\\d+)$").arg(QLatin1String(name)),
                                     QRegularExpression::MultilineOption);
    return pattern.match(QString::fromLatin1(shell)).captured(1).toInt();
  };
  return QRect(field("X"), field("Y"), field("WIDTH"), field("HEIGHT"));
}

QByteArray ProcessWindows::WaitFor(const std::function<bool(const XWindow&)>& matches,
                                   int timeoutMs) const {
  QByteArray found;
  WaitUntil(
      [&] {
        for (const XWindow& window : Visible()) {
          if (matches(window)) {
            found = window.id;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

// Qt marks the window it embeds into the notification area as one to leave alone.
QByteArray ProcessWindows::TrayIcon() const {
  return WaitFor([](const XWindow& window) {
    return window.types.contains("_KDE_NET_WM_WINDOW_TYPE_OVERRIDE");
  });
}

void ProcessWindows::Click(const QByteArray& id, int x, int y, int button, int count) const {
  constexpr int kBeyondDoubleClickMs = 1000;
  if (m_sinceClick.isValid()) {
    WaitUntil([this] { return m_sinceClick.hasExpired(kBeyondDoubleClickMs); },
              2 * kBeyondDoubleClickMs);
  }
  m_session.Run(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QStringLiteral("--window"), QString::fromLatin1(id),
                 QString::number(x), QString::number(y), QStringLiteral("click"),
                 QStringLiteral("--repeat"), QString::number(count), QStringLiteral("--delay"),
                 QStringLiteral("80"), QString::number(button)});
  m_sinceClick.start();
}

void ProcessWindows::Keys(const QByteArray& id, const QStringList& keys) const {
  if (!id.isEmpty()) {
    m_session.Run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"),
                                              QStringLiteral("--sync"), QString::fromLatin1(id)});
  }
  m_session.Run(
      QStringLiteral("xdotool"),
      QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50")} + keys);
}

void ProcessWindows::Minimise(const QByteArray& id) const {
  m_session.Run(QStringLiteral("xdotool"),
                {QStringLiteral("windowminimize"), QString::fromLatin1(id)});
}

void ProcessWindows::Screenshot(const QByteArray& id, const QString& fileName) const {
  const QString directory = qEnvironmentVariable("TARVEX_SCREENSHOT_DIR");
  if (directory.isEmpty() || !QDir().mkpath(directory)) return;
  m_session.Run(QStringLiteral("import"),
                {QStringLiteral("-frame"), QStringLiteral("-window"), QString::fromLatin1(id),
                 QDir(directory).filePath(fileName)});
}
