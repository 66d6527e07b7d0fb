#pragma once

#include <QObject>
#include <QTimer>

#include "core/config/servicestatus.h"

class CentrixCore;
class SystemdNotifier;

// Keeps the service manager's status line in step with the core: accounts
// signed in of those configured, clients connected. Counted once a second,
// so that a burst of connections costs one line; the notifier drops a line
// equal to the last one.
class ServiceReporter : public QObject {
  Q_OBJECT
 public:
  ServiceReporter(const CentrixCore& core, SystemdNotifier& notifier, QObject* parent = nullptr);

  // Counts now and starts the once-a-second update.
  void Start();

 private:
  void Update();

  const CentrixCore& m_core;
  SystemdNotifier& m_notifier;
  QTimer m_recount;
};

// What the core holds at this moment.
ServiceCounts CountService(const CentrixCore& core);
