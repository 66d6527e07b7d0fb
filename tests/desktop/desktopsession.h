#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// A desktop of its own for window tests: Xvfb on a free display, the openbox
// window manager and a trayer notification area. Every X tool runs against it.
// The destructor ends what Start() began.
class DesktopSession {
 public:
  DesktopSession() = default;
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // False with LastError() when a part did not come up.
  bool Start();
  const QString& Display() const { return m_display; }
  const QString& LastError() const { return m_lastError; }

  // Runs an X tool (xdotool, xwininfo, xprop, import) on the display; its
  // standard output, empty when it failed.
  QByteArray Run(const QString& program, const QStringList& arguments) const;

 private:
  bool StartProcess(const QString& program, const QStringList& arguments);
  // Starts program until ready() holds, a few times at most.
  bool StartUntil(const QString& program, const QStringList& arguments,
                  const std::function<bool()>& ready);
  bool WindowManagerRunning() const;
  bool NotificationAreaShown() const;

  QString m_display;
  QString m_lastError;
  std::vector<std::unique_ptr<QProcess>> m_processes;  // Xvfb first
};

// One top-level or embedded X window of a process, as the X tools see it.
struct XWindow {
  QByteArray id;  // decimal, as xdotool prints it
  QByteArray title;
  QByteArray types;      // _NET_WM_WINDOW_TYPE
  bool managed = false;  // has WM_STATE: a window the window manager looks after
};

// The X side of one process: its windows and what can be done to them.
class ProcessWindows {
 public:
  ProcessWindows(const DesktopSession& session, qint64 processId)
      : m_session(session), m_processId(processId) {}

  // Windows of the process that are mapped now.
  QList<XWindow> Visible() const;
  bool IsViewable(const QByteArray& id) const;
  QRect Geometry(const QByteArray& id) const;

  // Polls until a visible window matches; its id, or empty after timeoutMs.
  QByteArray WaitFor(const std::function<bool(const XWindow&)>& matches,
                     int timeoutMs = 20000) const;

  // The embedded notification-area icon; empty when there is none.
  QByteArray TrayIcon() const;
  void Click(const QByteArray& id, int x, int y, int button, int count = 1) const;
  // Makes the window active, then types the keys (xdotool key names).
  void Keys(const QByteArray& id, const QStringList& keys) const;
  void Minimise(const QByteArray& id) const;
  // Writes a PNG of the window into $TARVEX_SCREENSHOT_DIR, when it is set.
  void Screenshot(const QByteArray& id, const QString& fileName) const;

 private:
  const DesktopSession& m_session;
  qint64 m_processId;
  // Clicks closer together than the double-click interval would make one.
  mutable QElapsedTimer m_sinceClick;
};
