#include "core/config/servicestatus.h"

QString ServiceStatusText(const ServiceCounts& counts) {
  return QStringLiteral("Accounts signed in: %1 of %2; clients connected: %3")
      .arg(counts.accountsSignedIn)
      .arg(counts.accountsConfigured)
      .arg(counts.clientsConnected);
}
