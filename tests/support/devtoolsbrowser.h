#pragma once

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QWebSocket>

// Debian's Chromium without a window, driven over the DevTools protocol on
// one WebSocket: pages are targets attached in flat mode, each named by its
// session.
class DevToolsBrowser {
 public:
  static constexpr const char* kProgram = "/usr/bin/chromium";
  static constexpr int kReplyMs = 30000;

  DevToolsBrowser() = default;
  ~DevToolsBrowser();
  DevToolsBrowser(const DevToolsBrowser&) = delete;
  DevToolsBrowser& operator=(const DevToolsBrowser&) = delete;

  // False with *error set when Chromium does not come up.
  bool Start(QString* error);
  // A new page of this size that runs script before any of its own, then
  // loads url; its session, or empty.
  QString OpenPage(const QString& url, int width, int height, bool mobile, const QString& script);
  void ClosePage(const QString& session);
  // The expression's value (promises awaited); undefined on failure.
  QJsonValue Evaluate(const QString& session, const QString& expression);
  // Polls until the expression is true.
  bool WaitFor(const QString& session, const QString& expression, int timeoutMs = 20000);
  bool Screenshot(const QString& session, const QString& file);
  bool GrantNotifications(const QString& origin);
  // The reply's result; empty with lastError set when it has an error or none comes.
  QJsonObject Call(const QString& method, const QJsonObject& params = {},
                   const QString& session = {});
  QString LastError() const { return m_lastError; }

 private:
  QTemporaryDir m_profile;
  QProcess m_process;
  QWebSocket m_socket;
  int m_nextId = 1;
  QHash<int, QJsonObject> m_replies;
  QString m_lastError;
};
