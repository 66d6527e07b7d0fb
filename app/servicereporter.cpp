#include "app/servicereporter.h"

#include "core/centrixcore.h"
#include "core/config/systemdnotifier.h"

namespace {

constexpr int kRecountMs = 1000;

}  // namespace

ServiceCounts CountService(const CentrixCore& core) {
  ServiceCounts counts;
  for (int slot = 0; slot < kTelControlCount; ++slot) {
    const AccountSlot& account = core.Accounts().Account(slot);
    // As start-up signs them in: an ID and a password.
    if (account.m_strUID.isEmpty() || account.m_strPWD.isEmpty()) continue;
    ++counts.accountsConfigured;
    if (core.Accounts().IsSlotSignedIn(slot)) ++counts.accountsSignedIn;
  }
  const ClientRegistry& registry = core.Relay().Registry();
  counts.clientsConnected =
      int(registry.Table(kExtensionClient).size() + registry.Table(kLdkClient).size());
  counts.recordsWaiting = core.Recorder().RecordsWaiting();
  counts.recordsInMemory = core.Recorder().RecordsInMemory();
  counts.eventStreamOn = core.Stream().IsOn();
  counts.eventsWaiting = core.Stream().Waiting();
  counts.eventsRefused = core.Stream().IsRefusing();
  for (const WebhookDelivery::State& hook : core.Hooks().Failing()) {
    counts.webhooksFailing.append(hook.name);
  }
  return counts;
}

ServiceReporter::ServiceReporter(const CentrixCore& core, SystemdNotifier& notifier,
                                 QObject* parent)
    : QObject(parent), m_core(core), m_notifier(notifier) {
  m_recount.setInterval(kRecountMs);
  connect(&m_recount, &QTimer::timeout, this, &ServiceReporter::Update);
}

void ServiceReporter::Start() {
  Update();
  m_recount.start();
}

void ServiceReporter::Update() { m_notifier.SetStatus(ServiceStatusText(CountService(m_core))); }
