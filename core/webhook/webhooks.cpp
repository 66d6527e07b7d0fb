#include "core/webhook/webhooks.h"

#include <QDateTime>
#include <QDir>
#include <QUrl>

#include "core/config/relayname.h"
#include "core/config/settingkeys.h"
#include "core/config/settingsstore.h"
#include "core/feed/calleventjson.h"
#include "core/text/cp949.h"
#include "core/webhook/outboxwebhookqueue.h"

Webhooks::Webhooks(QString stateDirectory, QString rejectFilePath, WebhookPolicy policy,
                   QObject* parent)
    : QObject(parent),
      m_stateDirectory(std::move(stateDirectory)),
      m_rejects(std::move(rejectFilePath)),
      m_policy(policy),
      m_startMs(QByteArray::number(QDateTime::currentMSecsSinceEpoch())) {
  connect(&m_settingsWatch, &SettingsFileWatch::Changed, this, [this] {
    m_settings->Reread();
    ReadHooks();
  });
}

Webhooks::~Webhooks() = default;

void Webhooks::ReadSettings(SettingsStore& settings) {
  m_settings = &settings;
  m_settingsWatch.Watch(settings.Location());
  ReadHooks();
}

void Webhooks::ReadHooks() {
  SettingsStore& settings = *m_settings;
  m_relayName = ReadRelayName(settings);
  std::map<QString, std::unique_ptr<WebhookDelivery>> hooks;
  for (const QString& key : settings.NamesStartingWith(QLatin1String(kWebhookKeyPrefix))) {
    const QString name = key.mid(qsizetype(qstrlen(kWebhookKeyPrefix))).toUpper();
    QString error;
    const std::optional<WebhookSetting> setting =
        WebhookSetting::FromStored(name, FromCp949(settings.GetProfileString(key, {})), &error);
    if (!setting) {
      emit ErrorLine(ToCp949(QStringLiteral("웹훅 설정을 읽을 수 없습니다: %1").arg(error)));
      continue;
    }
    const auto old = m_hooks.find(name);
    if (old != m_hooks.end() && old->second->Setting() == *setting) {
      hooks.emplace(name, std::move(old->second));
      m_hooks.erase(old);
      continue;
    }
    // What waits for the hook goes to its new address.
    std::unique_ptr<WebhookQueue> queue;
    if (old != m_hooks.end()) {
      queue = old->second->TakeQueue();
      m_hooks.erase(old);
    } else {
      queue = OpenQueue(name);
      if (!queue) continue;
    }
    if (setting->url.scheme() == QLatin1String("http")) {
      emit ActivityLine(ToCp949(QStringLiteral("웹훅 %1은(는) 암호화 없이 보냅니다: %2")
                                    .arg(name, setting->url.toString())));
    }
    auto hook = std::make_unique<WebhookDelivery>(*setting, std::move(queue), m_network, m_rejects,
                                                  m_policy);
    connect(hook.get(), &WebhookDelivery::ActivityLine, this, &Webhooks::ActivityLine);
    connect(hook.get(), &WebhookDelivery::ErrorLine, this, &Webhooks::ErrorLine);
    hooks.emplace(name, std::move(hook));
  }
  for (const auto& [name, removed] : m_hooks) {
    const qint64 waiting = removed->CurrentState().waiting;
    if (waiting == 0) continue;
    emit ErrorLine(ToCp949(QStringLiteral("웹훅 %1이(가) 설정에서 빠져 기다리던 이벤트 %2건을 "
                                          "보내지 않습니다. 이벤트는 %3에 남아 있어 다시 "
                                          "설정하면 보냅니다.")
                               .arg(name)
                               .arg(waiting)
                               .arg(QueueDirectory(name))));
  }
  m_hooks = std::move(hooks);
}

QString Webhooks::QueueDirectory(const QString& name) const {
  return QDir(m_stateDirectory).filePath(QStringLiteral("webhooks/") + name);
}

std::unique_ptr<WebhookQueue> Webhooks::OpenQueue(const QString& name) {
  // Without it, the path would be relative to wherever the relay was started.
  if (m_stateDirectory.isEmpty()) {
    emit ErrorLine(
        ToCp949(QStringLiteral("웹훅 %1은(는) 상태 디렉터리가 없어 보내지 않습니다.").arg(name)));
    return nullptr;
  }
  auto queue =
      std::make_unique<OutboxWebhookQueue>(QueueDirectory(name), m_policy.mostWaitingBytes);
  connect(queue.get(), &OutboxWebhookQueue::ActivityLine, this, &Webhooks::ActivityLine);
  connect(queue.get(), &OutboxWebhookQueue::ErrorLine, this, &Webhooks::ErrorLine);
  if (!queue->Open()) {
    emit ErrorLine(ToCp949(QStringLiteral("웹훅 %1의 대기열을 열지 못해 보내지 않습니다: %2")
                               .arg(name, queue->ErrorString())));
    return nullptr;
  }
  return queue;
}

void Webhooks::Deliver(const CallEvent& event, const CallOutcome&) {
  if (m_hooks.empty()) return;
  const QByteArray eventId =
      QUrl::toPercentEncoding(m_relayName) + '-' + m_startMs + '-' + QByteArray::number(++m_events);
  const QByteArray body = CallEventJson(event, m_relayName);
  const QString extension = QString::number(event.extension);
  for (const auto& [name, hook] : m_hooks) hook->Offer(eventId, body, extension);
}

std::vector<WebhookDelivery::State> Webhooks::Failing() const {
  std::vector<WebhookDelivery::State> failing;
  for (const auto& [name, hook] : m_hooks) {
    WebhookDelivery::State state = hook->CurrentState();
    if (state.tries > 0 || state.stopped) failing.push_back(std::move(state));
  }
  return failing;
}
