#include "core/feed/feedpages.h"

#include <QFile>
#include <QHash>
#include <QHttpServerRequest>
#include <QHttpServerResponder>

namespace {

struct PageFile {
  const char* resource;
  const char* type;
};

const QHash<QString, PageFile>& Pages() {
  static const QHash<QString, PageFile> pages{
      {QStringLiteral("/"), {"agent.html", "text/html; charset=utf-8"}},
      {QStringLiteral("/admin"), {"admin.html", "text/html; charset=utf-8"}},
      {QStringLiteral("/feed.css"), {"feed.css", "text/css; charset=utf-8"}},
      {QStringLiteral("/feedconnection.js"),
       {"feedconnection.js", "text/javascript; charset=utf-8"}},
      {QStringLiteral("/agent.js"), {"agent.js", "text/javascript; charset=utf-8"}},
      {QStringLiteral("/admin.js"), {"admin.js", "text/javascript; charset=utf-8"}},
  };
  return pages;
}

const QByteArray kPlainText = "text/plain; charset=utf-8";

bool IsRead(const QHttpServerRequest& request) {
  return request.method() == QHttpServerRequest::Method::Get ||
         request.method() == QHttpServerRequest::Method::Head;
}

}  // namespace

FeedPages::FeedPages(TokenLookup findToken, QObject* parent)
    : QAbstractHttpServer(parent), m_findToken(std::move(findToken)) {
  Q_INIT_RESOURCE(feedpages);
}

bool FeedPages::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  // Taken without an answer, an upgrade becomes a WebSocket.
  if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0) return true;
  Answer(request, makeResponder(request, socket));
  // One answer a connection: none waits idle in its host's count.
  socket->disconnectFromHost();
  return true;
}

void FeedPages::Answer(const QHttpServerRequest& request, QHttpServerResponder&& responder) {
  const QString path = request.url().path();
  const auto page = Pages().constFind(path);
  if (path == QLatin1String("/metrics")) {
    ServeMetrics(request, responder);
  } else if (page == Pages().cend()) {
    Reply(responder, request, 404, kPlainText, "not found\n");
  } else if (!IsRead(request)) {
    Reply(responder, request, 405, kPlainText, "GET or HEAD\n", {{"Allow", "GET, HEAD"}});
  } else {
    QFile file(QStringLiteral(":/feedpages/") + QLatin1String(page->resource));
    file.open(QIODevice::ReadOnly);
    Reply(responder, request, 200, page->type, file.readAll());
  }
}

// Upgrades to WebSocket while nobody takes them, which the feed never leaves.
void FeedPages::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  QHttpServerResponder responder = makeResponder(request, socket);
  Reply(responder, request, 404, kPlainText, "not found\n");
}

// This machine may read the figures; any other peer needs an administrator's token.
void FeedPages::ServeMetrics(const QHttpServerRequest& request, QHttpServerResponder& responder) {
  if (!request.remoteAddress().isLoopback()) {
    const QByteArray authorization = request.value("Authorization");
    const std::optional<FeedToken> token =
        authorization.startsWith("Bearer ")
            ? m_findToken(QString::fromLatin1(authorization.mid(7).trimmed()))
            : std::nullopt;
    if (!token) {
      Reply(responder, request, 401, kPlainText, "token needed\n",
            {{"WWW-Authenticate", "Bearer"}});
      return;
    }
    if (!token->admin) {
      Reply(responder, request, 403, kPlainText, "administrators only\n");
      return;
    }
  }
  if (!IsRead(request)) {
    Reply(responder, request, 405, kPlainText, "GET or HEAD\n", {{"Allow", "GET, HEAD"}});
  } else {
    Reply(responder, request, 200, "text/plain; version=0.0.4; charset=utf-8", m_metrics());
  }
}

// Whatever the relay passes on is text for the pages, never markup or
// script of someone else's.
void FeedPages::Reply(QHttpServerResponder& responder, const QHttpServerRequest& request,
                      int status, const QByteArray& type, const QByteArray& body,
                      const QList<std::pair<QByteArray, QByteArray>>& extraHeaders) {
  responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(status));
  responder.writeHeader("Content-Type", type);
  responder.writeHeader("Content-Length", QByteArray::number(body.size()));
  responder.writeHeader("Content-Security-Policy",
                        "default-src 'none'; script-src 'self'; style-src 'self'; "
                        "connect-src 'self'; img-src 'self'; base-uri 'none'; "
                        "form-action 'none'; frame-ancestors 'none'");
  responder.writeHeader("X-Content-Type-Options", "nosniff");
  responder.writeHeader("Referrer-Policy", "no-referrer");
  responder.writeHeader("Cache-Control", "no-store");
  responder.writeHeader("Connection", "close");
  for (const auto& [name, value] : extraHeaders) responder.writeHeader(name, value);
  responder.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray() : body);
}
