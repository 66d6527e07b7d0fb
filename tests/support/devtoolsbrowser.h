#pragma once

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QWebSocket>

#include "support/qtwait.h"

// Debian's Chromium without a window, driven over the DevTools protocol on
// one WebSocket; a page is a target attached in flat mode, named by its session.
class DevToolsBrowser {
 public:
  static constexpr const char* kProgram = "/usr/bin/chromium";
  static constexpr int kReplyMs = 30000;

  ~DevToolsBrowser() {
    m_process.kill();
    m_process.waitForFinished(kReplyMs);
  }

  // False with *error set when Chromium does not come up.
  bool Start(QString* error) {
    m_process.start(
        QString::fromLatin1(kProgram),
        {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + m_profile.path(), "--remote-debugging-port=0"});
    static const QRegularExpression listening(QStringLiteral("DevTools listening on (ws://\\S+)"));
    QString output, address;
    WaitUntil(
        [&] {
          output += QString::fromUtf8(m_process.readAllStandardError());
          address = listening.match(output).captured(1);
          return !address.isEmpty() || m_process.state() == QProcess::NotRunning;
        },
        kReplyMs);
    QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString& message) {
      const QJsonObject reply = QJsonDocument::fromJson(message.toUtf8()).object();
      m_replies.insert(reply["id"].toInt(), reply);  // events have none
    });
    m_socket.setMaxAllowedIncomingMessageSize(64 * 1024 * 1024);  // screenshots
    if (!address.isEmpty()) m_socket.open(QUrl(address));
    *error = "chromium did not start: " + output.right(2000);
    return WaitUntil([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, kReplyMs);
  }

  // The reply's result; empty with LastError() set on an error or no reply.
  QJsonObject Call(const QString& method, const QJsonObject& params = {},
                   const QString& session = {}) {
    const int id = m_nextId++;
    QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
    if (!session.isEmpty()) message.insert(QStringLiteral("sessionId"), session);
    m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
    WaitUntil([&] { return m_replies.contains(id); }, kReplyMs);
    const QJsonObject reply = m_replies.take(id);
    m_lastError = reply.isEmpty() ? method + QStringLiteral(": no reply")
                                  : reply["error"].toObject()["message"].toString();
    return reply["result"].toObject();
  }

  // A page of this size that runs script before its own, loading url; its session.
  QString OpenPage(const QString& url, int width, int height, const QString& script) {
    const QJsonValue target = Call("Target.createTarget", {{"url", "about:blank"}})["targetId"];
    const QString session =
        Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})["sessionId"]
            .toString();
    Call("Page.enable", {}, session);  // or the script below is not run
    Call("Emulation.setDeviceMetricsOverride",
         {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", width < 500}},
         session);
    Call("Page.addScriptToEvaluateOnNewDocument", {{"source", script}}, session);
    Call("Page.navigate", {{"url", url}}, session);
    return session;
  }

  // The expression's value, promises awaited.
  QJsonValue Evaluate(const QString& session, const QString& expression) {
    return Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}},
                session)["result"]
        .toObject()["value"];
  }
  QString LastError() const { return m_lastError; }

 private:
  QTemporaryDir m_profile;
  QProcess m_process;
  QWebSocket m_socket;
  int m_nextId = 1;
  QHash<int, QJsonObject> m_replies;
  QString m_lastError;
};
