#include "core/feed/relaystatus.h"

#include <QJsonArray>

#include "core/centrixcore.h"
#include "core/text/cp949.h"

namespace {

constexpr int kActivityLines = 20;

}  // namespace

QJsonObject RelayStatus(const CentrixCore& core) {
  QJsonArray accounts;
  for (int slot = 0; slot < kTelControlCount; ++slot) {
    const AccountSlot& account = core.Accounts().Account(slot);
    if (account.m_strUID.isEmpty()) continue;
    accounts.append(
        QJsonObject{{QStringLiteral("slot"), slot + 1},
                    {QStringLiteral("id"), FromCp949(account.m_strUID)},
                    {QStringLiteral("extension"), QString::number(account.m_nExtension)},
                    {QStringLiteral("signedIn"), core.Accounts().IsSlotSignedIn(slot)}});
  }
  const ClientRegistry& registry = core.Relay().Registry();
  QJsonArray activity;
  const ActivityListModel& list = core.Activity().List();
  for (int row = 0; row < std::min(list.Count(), kActivityLines); ++row) {
    activity.append(FromCp949(list.Line(row)));
  }
  QJsonArray webhooks;
  for (const WebhookDelivery::State& hook : core.Hooks().Failing()) {
    webhooks.append(QJsonObject{{QStringLiteral("name"), hook.name},
                                {QStringLiteral("tries"), hook.tries},
                                {QStringLiteral("lastError"), hook.lastError},
                                {QStringLiteral("stopped"), hook.stopped},
                                {QStringLiteral("waiting"), hook.waiting}});
  }
  return QJsonObject{
      {QStringLiteral("accounts"), accounts},
      {QStringLiteral("clients"),
       QJsonObject{{QStringLiteral("extension"), qint64(registry.Table(kExtensionClient).size())},
                   {QStringLiteral("ldk"), qint64(registry.Table(kLdkClient).size())}}},
      {QStringLiteral("records"),
       QJsonObject{{QStringLiteral("waiting"), core.Recorder().RecordsWaiting()},
                   {QStringLiteral("inMemory"), core.Recorder().RecordsInMemory()}}},
      {QStringLiteral("eventsWaiting"), core.Stream().Waiting()},
      {QStringLiteral("webhooksFailing"), webhooks},
      {QStringLiteral("activity"), activity}};
}
