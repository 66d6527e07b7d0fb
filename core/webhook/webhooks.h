#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <vector>

#include "core/callevent/calleventoutput.h"
#include "core/config/settingsfilewatch.h"
#include "core/webhook/webhookdelivery.h"
#include "core/webhook/webhookpolicy.h"
#include "core/webhook/webhookrejectfile.h"

class SettingsStore;

// Call events POSTed to the hooks the settings name, each hook with a queue
// of its own, so that a slow or dead receiver holds back only itself. The
// queues are outboxes in webhooks/<NAME> of the state directory: what waits
// survives a restart. All on the event loop, with Qt Network's asynchronous
// requests.
class Webhooks : public QObject, public CallEventOutput {
  Q_OBJECT
 public:
  // stateDirectory empty: no hook is used. rejectFilePath empty: given-up
  // events are only told in the journal.
  Webhooks(QString stateDirectory, QString rejectFilePath, WebhookPolicy policy = {},
           QObject* parent = nullptr);
  ~Webhooks() override;

  // The hooks and the relay's name, again whenever the settings file
  // changes; a hook whose setting is unchanged keeps its state (a stopped
  // one stays stopped), a changed one starts afresh with the events that
  // wait for it; a removed one leaves its events in its directory, for when
  // it is set again.
  void ReadSettings(SettingsStore& settings);
  void Deliver(const CallEvent& event, const CallOutcome& outcome) override;
  // Every hook that is failing or stopped, for the status.
  std::vector<WebhookDelivery::State> Failing() const;

 signals:
  void ActivityLine(const QByteArray& cp949);
  void ErrorLine(const QByteArray& cp949);

 private:
  void ReadHooks();
  QString QueueDirectory(const QString& name) const;
  // Null, with the reason told, when the hook's queue cannot be opened.
  std::unique_ptr<WebhookQueue> OpenQueue(const QString& name);

  QNetworkAccessManager m_network;
  SettingsStore* m_settings = nullptr;
  SettingsFileWatch m_settingsWatch;
  const QString m_stateDirectory;
  WebhookRejectFile m_rejects;
  const WebhookPolicy m_policy;
  QString m_relayName;
  // With the relay's start, the events' ids stay unique across restarts.
  const QByteArray m_startMs;
  qint64 m_events = 0;
  std::map<QString, std::unique_ptr<WebhookDelivery>> m_hooks;
};
