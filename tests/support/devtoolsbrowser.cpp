#include "support/devtoolsbrowser.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include "support/qtwait.h"

DevToolsBrowser::~DevToolsBrowser() {
  m_socket.abort();
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.kill();
  m_process.waitForFinished(10000);
}

bool DevToolsBrowser::Start(QString* error) {
  m_process.start(
      QString::fromLatin1(kProgram),
      {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--user-data-dir=" + m_profile.path(), "--remote-debugging-port=0", "about:blank"});
  // The one line that says where the protocol is.
  static const QRegularExpression listening(QStringLiteral("DevTools listening on (ws://\\S+)"));
  QString address;
  QByteArray output;
  WaitUntil(
      [&] {
        output += m_process.readAllStandardError();
        address = listening.match(QString::fromUtf8(output)).captured(1);
        return !address.isEmpty() || m_process.state() == QProcess::NotRunning;
      },
      kReplyMs);
  if (address.isEmpty()) {
    *error = QStringLiteral("chromium did not start: ") + QString::fromUtf8(output.right(2000));
    return false;
  }
  QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString& message) {
    const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
    if (object.contains(QStringLiteral("id"))) m_replies.insert(object["id"].toInt(), object);
  });
  m_socket.setMaxAllowedIncomingMessageSize(64 * 1024 * 1024);
  m_socket.open(QUrl(address));
  if (!WaitUntil([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, kReplyMs)) {
    *error = QStringLiteral("no DevTools connection: ") + m_socket.errorString();
    return false;
  }
  return true;
}

QJsonObject DevToolsBrowser::Call(const QString& method, const QJsonObject& params,
                                  const QString& session) {
  m_lastError.clear();
  const int id = m_nextId++;
  QJsonObject message{{"id", id}, {"method", method}, {"params", params}};
  if (!session.isEmpty()) message.insert(QStringLiteral("sessionId"), session);
  m_socket.sendTextMessage(
      QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
  if (!WaitUntil([&] { return m_replies.contains(id); }, kReplyMs)) {
    m_lastError = method + QStringLiteral(": no reply");
    return {};
  }
  const QJsonObject reply = m_replies.take(id);
  if (reply.contains(QStringLiteral("error"))) {
    m_lastError = method + ": " + QJsonDocument(reply["error"].toObject()).toJson();
    return {};
  }
  return reply["result"].toObject();
}

QString DevToolsBrowser::OpenPage(const QString& url, int width, int height, bool mobile,
                                  const QString& script) {
  const QString target =
      Call("Target.createTarget", {{"url", "about:blank"}})["targetId"].toString();
  const QString session =
      Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})["sessionId"]
          .toString();
  if (session.isEmpty()) return {};
  Call("Page.enable", {}, session);
  Call("Emulation.setDeviceMetricsOverride",
       {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", mobile}},
       session);
  if (!script.isEmpty())
    Call("Page.addScriptToEvaluateOnNewDocument", {{"source", script}}, session);
  Call("Page.navigate", {{"url", url}}, session);
  return session;
}

void DevToolsBrowser::ClosePage(const QString& session) {
  const QJsonObject info = Call("Target.getTargetInfo", {}, session);
  Call("Target.closeTarget", {{"targetId", info["targetInfo"].toObject()["targetId"]}});
}

QJsonValue DevToolsBrowser::Evaluate(const QString& session, const QString& expression) {
  const QJsonObject result =
      Call("Runtime.evaluate",
           {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, session);
  if (result.contains(QStringLiteral("exceptionDetails"))) {
    m_lastError = QJsonDocument(result["exceptionDetails"].toObject()).toJson();
    return QJsonValue::Undefined;
  }
  return result["result"].toObject().value(QStringLiteral("value"));
}

bool DevToolsBrowser::WaitFor(const QString& session, const QString& expression, int timeoutMs) {
  return WaitUntil([&] { return Evaluate(session, expression) == QJsonValue(true); }, timeoutMs);
}

bool DevToolsBrowser::Screenshot(const QString& session, const QString& file) {
  const QByteArray png = QByteArray::fromBase64(
      Call("Page.captureScreenshot", {{"format", "png"}}, session)["data"].toString().toLatin1());
  QFile out(file);
  return !png.isEmpty() && out.open(QIODevice::WriteOnly) && out.write(png) == png.size();
}

bool DevToolsBrowser::GrantNotifications(const QString& origin) {
  Call("Browser.grantPermissions",
       {{"permissions", QJsonArray{"notifications"}}, {"origin", origin}});
  return m_lastError.isEmpty();
}
