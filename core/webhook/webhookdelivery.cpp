#include "core/webhook/webhookdelivery.h"

#include <QDateTime>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "core/text/cp949.h"
#include "core/webhook/webhookrejectfile.h"

namespace {

// A queued record: the event's id, a line feed, the body (compact JSON,
// which has no line feed of its own).
QByteArray RecordOf(const QByteArray& eventId, const QByteArray& body) {
  return eventId + '\n' + body;
}
QByteArray EventIdOf(const QByteArray& record) { return record.first(record.indexOf('\n')); }
QByteArray BodyOf(const QByteArray& record) { return record.sliced(record.indexOf('\n') + 1); }

// With the time signed too, a request caught on the way cannot be replayed later.
QByteArray Signature(const QByteArray& secret, const QByteArray& timestamp,
                     const QByteArray& body) {
  return "sha256=" + QMessageAuthenticationCode::hash(timestamp + '.' + body, secret,
                                                      QCryptographicHash::Sha256)
                         .toHex();
}

}  // namespace

WebhookDelivery::WebhookDelivery(WebhookSetting setting, std::unique_ptr<WebhookQueue> queue,
                                 QNetworkAccessManager& network, WebhookRejectFile& rejects,
                                 WebhookPolicy policy, QObject* parent)
    : QObject(parent),
      m_setting(std::move(setting)),
      m_queue(std::move(queue)),
      m_network(network),
      m_rejects(rejects),
      m_policy(policy) {
  m_retry.setSingleShot(true);
  m_retry.callOnTimeout(this, &WebhookDelivery::SendOldest);
  m_deadline.setSingleShot(true);
  m_deadline.setInterval(m_policy.requestMs);
  m_deadline.callOnTimeout(
      this, [this] { Finish(QStringLiteral("no answer within %1 ms").arg(m_policy.requestMs)); });
  connect(m_queue.get(), &WebhookQueue::Available, this, &WebhookDelivery::SendIfIdle);
  // The queue may hold events already: from the last run, or the hook's former setting.
  SendOldest();
}

WebhookDelivery::~WebhookDelivery() { AbandonRequest(); }

void WebhookDelivery::AbandonRequest() {
  QNetworkReply* reply = std::exchange(m_reply, nullptr);
  if (!reply) return;
  reply->disconnect(this);
  reply->abort();
  reply->deleteLater();
}

std::unique_ptr<WebhookQueue> WebhookDelivery::TakeQueue() {
  AbandonRequest();
  m_deadline.stop();
  m_retry.stop();
  m_stopped = true;
  m_queue->disconnect(this);
  return std::move(m_queue);
}

void WebhookDelivery::Offer(const QByteArray& eventId, const QByteArray& body,
                            const QString& extension) {
  if (m_stopped || !m_setting.Hears(extension)) return;
  if (!m_queue->Append(RecordOf(eventId, body))) {
    Reject(eventId, body, QStringLiteral("queue full"));
  }
}

void WebhookDelivery::SendIfIdle() {
  if (!m_reply && !m_retry.isActive()) SendOldest();
}

void WebhookDelivery::SendOldest() {
  if (m_stopped) return;
  const std::optional<WebhookQueue::Record> record = m_queue->Oldest();
  if (!record) return;
  const QByteArray body = BodyOf(record->bytes);
  const QByteArray timestamp = QByteArray::number(QDateTime::currentSecsSinceEpoch());
  QNetworkRequest request(m_setting.url);
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
  request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Tarvex"));
  request.setRawHeader("X-Tarvex-Event-Id", EventIdOf(record->bytes));
  request.setRawHeader("X-Tarvex-Timestamp", timestamp);
  request.setRawHeader("X-Tarvex-Signature", Signature(m_setting.secret, timestamp, body));
  // A redirect could carry the signed event to another host: it counts as a failure.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
  // A receiver's cookies would pile up in memory and follow every later event.
  request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
  request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
  m_answerBytes = 0;
  m_answerCut = false;
  m_reply = m_network.post(request, body);
  m_reply->setReadBufferSize(m_policy.mostAnswerBytes);
  connect(m_reply, &QNetworkReply::readyRead, this, &WebhookDelivery::DiscardAnswer);
  connect(m_reply, &QNetworkReply::finished, this, [this] { Finish({}); });
  // A transfer time-out would restart with each byte of a slow drip: the deadline is for all of it.
  m_deadline.start();
}

void WebhookDelivery::DiscardAnswer() {
  m_answerBytes += m_reply->skip(m_reply->bytesAvailable());
  if (m_answerBytes <= m_policy.mostAnswerBytes) return;
  m_answerCut = true;
  Finish({});
}

void WebhookDelivery::Finish(const QString& failure) {
  QNetworkReply* reply = std::exchange(m_reply, nullptr);
  m_deadline.stop();
  reply->disconnect(this);
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  // The network's errors come before the ones Qt makes of HTTP statuses.
  const bool broken = reply->error() != QNetworkReply::NoError &&
                      reply->error() < QNetworkReply::ContentAccessDenied && !m_answerCut;
  const QString error = reply->errorString();
  reply->abort();
  reply->deleteLater();
  if (!failure.isEmpty()) {
    Failed(failure);
  } else if (status >= 200 && status < 300 && !broken) {
    Accepted();
  } else if (status == 410) {
    Gone();
  } else {
    Failed(status != 0 && !broken ? QStringLiteral("HTTP %1").arg(status) : error);
  }
}

void WebhookDelivery::Accepted() {
  m_queue->Acknowledge(m_queue->Oldest()->sequence);
  if (m_tries > 0) {
    emit ActivityLine(ToCp949(QStringLiteral("웹훅 %1에 다시 전달됩니다.").arg(m_setting.name)));
  }
  m_tries = 0;
  m_lastError.clear();
  SendOldest();
}

void WebhookDelivery::Gone() {
  m_stopped = true;
  emit ErrorLine(ToCp949(QStringLiteral("웹훅 %1이(가) 410 Gone으로 답해 더 보내지 않습니다. "
                                        "설정이 바뀌면 다시 보냅니다.")
                             .arg(m_setting.name)));
}

void WebhookDelivery::Failed(const QString& error) {
  ++m_tries;
  m_lastError = error;
  if (m_tries >= m_policy.mostTries) {
    const WebhookQueue::Record record = *m_queue->Oldest();
    const QString reason = QStringLiteral("%1 tries, last: %2").arg(m_tries).arg(error);
    m_queue->Reject(record.sequence, reason.toUtf8());
    Reject(EventIdOf(record.bytes), BodyOf(record.bytes), reason);
    m_tries = 0;
    SendOldest();
    return;
  }
  const qint64 wait = std::min<qint64>(qint64(m_policy.firstWaitMs) << std::min(m_tries - 1, 30),
                                       m_policy.longestWaitMs);
  if (m_tries == 1) {
    emit ActivityLine(ToCp949(
        QStringLiteral("웹훅 %1에 전달하지 못해 다시 보냅니다: %2").arg(m_setting.name, error)));
  }
  m_retry.start(int(wait));
}

void WebhookDelivery::Reject(const QByteArray& eventId, const QByteArray& body,
                             const QString& reason) {
  const bool kept = m_rejects.Append(m_setting.name, eventId, reason, body);
  emit ErrorLine(ToCp949(QStringLiteral("웹훅 %1에 이벤트 %2을(를) 전달하지 못했습니다 (%3)%4")
                             .arg(m_setting.name, QString::fromUtf8(eventId), reason,
                                  kept ? QStringLiteral(": ") + m_rejects.Path()
                                       : QStringLiteral("; 거부 파일에 남기지 못했습니다."))));
}

WebhookDelivery::State WebhookDelivery::CurrentState() const {
  return {m_setting.name, m_tries, m_lastError, m_stopped, m_queue->Waiting()};
}
