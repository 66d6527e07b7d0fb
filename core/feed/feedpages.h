#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "core/feed/feedtoken.h"

class QHttpServerResponder;

// The feed port's HTTP side: the agent's and the administrator's pages from
// the resources, the metrics for who may read them, and WebSocket upgrades,
// which come out through nextPendingWebSocketConnection().
class FeedPages : public QAbstractHttpServer {
  Q_OBJECT
 public:
  using TokenLookup = std::function<std::optional<FeedToken>(const QString& secret)>;

  FeedPages(TokenLookup findToken, QObject* parent = nullptr);

  // No source: /metrics answers 404 to those allowed to read it.
  void SetMetricsSource(std::function<QByteArray()> metrics) { m_metrics = std::move(metrics); }

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  void Answer(const QHttpServerRequest& request, QHttpServerResponder&& responder);
  void ServeMetrics(const QHttpServerRequest& request, QHttpServerResponder& responder);
  static void Reply(QHttpServerResponder& responder, const QHttpServerRequest& request, int status,
                    const QByteArray& type, const QByteArray& body,
                    const QList<std::pair<QByteArray, QByteArray>>& extraHeaders = {});

  TokenLookup m_findToken;
  std::function<QByteArray()> m_metrics;
};
