#pragma once

#include <QString>
#include <QStringList>

// What the service's status line tells an administrator (systemctl status).
struct ServiceCounts {
  int accountsSignedIn = 0;
  int accountsConfigured = 0;
  int clientsConnected = 0;
  // Calls in the spool that the database has not taken yet.
  qint64 recordsWaiting = 0;
  // Of those and of the rejected ones, held only in memory: the disk refused them.
  qint64 recordsInMemory = 0;
  // The event stream, when a broker is set: events the broker has not
  // confirmed, and whether the outbox is full and refuses new ones.
  bool eventStreamOn = false;
  qint64 eventsWaiting = 0;
  bool eventsRefused = false;
  // Hooks whose oldest event failed, or that a 410 stopped.
  QStringList webhooksFailing;
};

QString ServiceStatusText(const ServiceCounts& counts);
