#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "core/webhook/webhookpolicy.h"
#include "core/webhook/webhookqueue.h"
#include "core/webhook/webhooksetting.h"

class QNetworkAccessManager;
class QNetworkReply;
class WebhookRejectFile;

// One hook: its events POSTed one at a time, oldest first, signed with its
// secret. 2xx takes the event off the queue; 410 stops the hook for good;
// anything else is tried again after a growing wait, until the policy gives
// the event up to the reject file and the hook goes on with the next.
class WebhookDelivery : public QObject {
  Q_OBJECT
 public:
  struct State {
    QString name;
    int tries = 0;  // of the oldest event, failed so far
    QString lastError;
    bool stopped = false;
    qint64 waiting = 0;
  };

  WebhookDelivery(WebhookSetting setting, std::unique_ptr<WebhookQueue> queue,
                  QNetworkAccessManager& network, WebhookRejectFile& rejects, WebhookPolicy policy,
                  QObject* parent = nullptr);
  ~WebhookDelivery() override;

  const WebhookSetting& Setting() const { return m_setting; }
  // Queued when the hook hears the extension, and sent when nothing is ahead of it.
  void Offer(const QByteArray& eventId, const QByteArray& body, const QString& extension);
  State CurrentState() const;
  // What still waits, for the hook's next setting; this delivery sends nothing more.
  std::unique_ptr<WebhookQueue> TakeQueue();

 signals:
  void ActivityLine(const QByteArray& cp949);
  void ErrorLine(const QByteArray& cp949);

 private:
  void AbandonRequest();
  void SendIfIdle();
  void SendOldest();
  void DiscardAnswer();
  void Finish(const QString& failure);
  void Accepted();
  void Gone();
  void Failed(const QString& error);
  void Reject(const QByteArray& eventId, const QByteArray& body, const QString& reason);

  const WebhookSetting m_setting;
  std::unique_ptr<WebhookQueue> m_queue;
  QNetworkAccessManager& m_network;
  WebhookRejectFile& m_rejects;
  const WebhookPolicy m_policy;
  QTimer m_retry;
  QTimer m_deadline;
  QNetworkReply* m_reply = nullptr;
  qint64 m_answerBytes = 0;
  bool m_answerCut = false;
  int m_tries = 0;
  QString m_lastError;
  bool m_stopped = false;
};
