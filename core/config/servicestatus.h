#pragma once

#include <QString>

// What the service's status line tells an administrator (systemctl status).
struct ServiceCounts {
  int accountsSignedIn = 0;
  int accountsConfigured = 0;
  int clientsConnected = 0;
  // Calls in the spool that the database has not taken yet.
  qint64 recordsWaiting = 0;
};

QString ServiceStatusText(const ServiceCounts& counts);
