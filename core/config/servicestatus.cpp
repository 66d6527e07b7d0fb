#include "core/config/servicestatus.h"

QString ServiceStatusText(const ServiceCounts& counts) {
  QString text =
      QStringLiteral(
          "Accounts signed in: %1 of %2; clients connected: %3; call records waiting: %4")
          .arg(counts.accountsSignedIn)
          .arg(counts.accountsConfigured)
          .arg(counts.clientsConnected)
          .arg(counts.recordsWaiting);
  if (counts.recordsInMemory > 0) {
    text += QStringLiteral(" (%1 in memory)").arg(counts.recordsInMemory);
  }
  if (counts.eventStreamOn) {
    text += QStringLiteral("; events waiting for the broker: %1").arg(counts.eventsWaiting);
    if (counts.eventsRefused) text += QStringLiteral(" (outbox full, new events dropped)");
  }
  if (!counts.webhooksFailing.isEmpty()) {
    text +=
        QStringLiteral("; webhooks failing: ") + counts.webhooksFailing.join(QStringLiteral(", "));
  }
  return text;
}
