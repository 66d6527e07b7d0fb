#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

#include "core/callevent/calloutcome.h"
#include "core/db/callrecorder.h"
#include "core/feed/websocketfeed.h"
#include "core/log/activitylog.h"
#include "core/metrics/relaymetrics.h"
#include "core/relay/clientrelay.h"
#include "core/stream/eventstream.h"
#include "core/telephony/telephoneaccounts.h"
#include "core/webhook/webhooks.h"

class CallDatabase;
class CallRecording;
class SettingsStore;

// What the relay core takes from its creator, so that tests can run it on
// temporary ports, directories and stores.
struct CoreContext {
  SettingsStore* settings = nullptr;
  // Where calls are recorded: the spool and its writer, or else straight
  // into the database on the event loop; neither: calls are not recorded.
  CallRecording* recording = nullptr;
  CallDatabase* database = nullptr;
  TelControlFactory telControlFactory;
  QString logDirectory;
  quint16 extPort = 8688;
  quint16 ldkPort = 5100;
  quint16 feedPort = 0;       // the browser feed; 0: none
  QString webhookRejectFile;  // empty: given-up webhook events only in the journal
  // Where the event stream's outbox goes; empty: no event stream.
  QString stateDirectory;
  std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };
};

// The relay without a window: the accounts, whose call events go through the
// call rules to every output (the accounts list, the activity log, the
// client ports, the call recorder, the browser feed, the event stream), steered by the operator's
// choices. The window watches it; headless it runs alone.
class CentrixCore : public QObject {
  Q_OBJECT
 public:
  explicit CentrixCore(CoreContext context, QObject* parent = nullptr);
  // Ends as the program does: log file closed, accounts signed out, clients closed.
  ~CentrixCore() override;

  // Every start-up step in order; false when a telephony control could not be created.
  bool Start();
  // The accounts and the operator's choices from the settings store.
  void ReadSettings();
  void Shutdown();

  // One call event through the rules to every output.
  void OnCallEvent(const CallEvent& event);

  // The operator's choices; the window's data exchange reads and sets them.
  qint32 LogType() const { return m_settings.logType; }
  void SetLogType(qint32 logType);
  qint32 SendType() const { return m_settings.sendType; }
  void SetSendType(qint32 sendType) { m_settings.sendType = sendType; }
  qint32 CenterId() const { return m_settings.centerId; }
  void SetCenterId(qint32 centerId) { m_settings.centerId = centerId; }
  qint32 ServerType() const { return m_accounts.ServerType(); }
  void SetServerType(qint32 serverType) { m_accounts.SetServerType(serverType); }

  TelephoneAccounts& Accounts() { return m_accounts; }
  const TelephoneAccounts& Accounts() const { return m_accounts; }
  ActivityLog& Activity() { return m_activity; }
  const ActivityLog& Activity() const { return m_activity; }
  ClientRelay& Relay() { return m_relay; }
  const ClientRelay& Relay() const { return m_relay; }
  CallRecorder& Recorder() { return m_recorder; }
  const CallRecorder& Recorder() const { return m_recorder; }
  const WebSocketFeed& Feed() const { return m_feed; }
  // The relay's metrics in Prometheus' text exposition format.
  QByteArray MetricsText() const;
  const EventStream& Stream() const { return m_stream; }
  const Webhooks& Hooks() const { return m_webhooks; }

 signals:
  // The listening sockets are up and the host's own address is known.
  void HostAddressKnown(const QByteArray& address);
  // The number of calls waiting to be recorded changed.
  void RecordsWaitingChanged(qint64 waiting);

 private:
  void CountIntoMetrics();

  CoreContext m_context;
  RelayMetrics m_metrics;  // before the outputs, which count into it
  CallSettings m_settings;
  TelephoneAccounts m_accounts;
  ActivityLog m_activity;
  ClientRelay m_relay;
  CallRecorder m_recorder;
  WebSocketFeed m_feed;
  EventStream m_stream;
  Webhooks m_webhooks;
  // In this order: the row, the activity line, the notice, then the record,
  // whose spool is synced once the pass ends.
  std::vector<CallEventOutput*> m_outputs;
  bool m_bShutDown = false;
};
