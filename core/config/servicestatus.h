#pragma once

#include <QString>

// What the service's status line tells an administrator (systemctl status).
struct ServiceCounts {
  int accountsSignedIn = 0;
  int accountsConfigured = 0;
  int clientsConnected = 0;
  // Calls in the spool that the database has not taken yet.
  qint64 recordsWaiting = 0;
  // Of those and of the rejected ones, held only in memory: the disk refused them.
  qint64 recordsInMemory = 0;
};

QString ServiceStatusText(const ServiceCounts& counts);
