#include "core/centrixcore.h"

#include "core/callevent/callrules.h"
#include "core/config/settingsstore.h"
#include "core/feed/relaystatus.h"

CentrixCore::CentrixCore(CoreContext context, QObject* parent)
    : QObject(parent),
      m_context(std::move(context)),
      m_accounts(*m_context.settings, m_context.telControlFactory, m_context.clock),
      m_activity(m_context.logDirectory, m_context.clock),
      m_relay(m_context.extPort, m_context.ldkPort),
      m_recorder(m_context.recording, m_context.database),
      m_feed(m_context.feedPort),
      m_webhooks(m_context.stateDirectory, m_context.webhookRejectFile),
      m_outputs{&m_accounts, &m_activity, &m_relay, &m_recorder, &m_feed, &m_stream, &m_webhooks} {
  connect(&m_accounts, &TelephoneAccounts::CallEventRaised, this, &CentrixCore::OnCallEvent);
  connect(&m_accounts, &TelephoneAccounts::ActivityLine, &m_activity,
          &ActivityLog::InsertActivityLine);
  connect(&m_relay, &ClientRelay::ActivityLine, &m_activity, &ActivityLog::InsertActivityLine);
  connect(&m_relay, &ClientRelay::ErrorLine, &m_activity, &ActivityLog::ReportError);
  connect(&m_relay, &ClientRelay::LdkNoticeSent, &m_activity, &ActivityLog::NoteLdkNotice);
  connect(&m_relay, &ClientRelay::HostAddressKnown, this, &CentrixCore::HostAddressKnown);
  // A journal line must never reach its reader after the notice it tells of;
  // the events published before a notice are in the outbox's file before it
  // goes out, so that a killed relay keeps them.
  m_relay.SetBeforeSend([this] {
    m_activity.FlushJournal();
    m_stream.WriteAppended();
  });
  // The journal's flush is queued before the outbox's write of the same pass:
  // a line telling of a ring must not reach its reader first.
  m_activity.SetBeforeJournalWrite([this] { m_stream.WriteAppended(); });
  connect(&m_recorder, &CallRecorder::ActivityLine, &m_activity, &ActivityLog::InsertActivityLine);
  connect(&m_recorder, &CallRecorder::ErrorLine, &m_activity, &ActivityLog::ReportError);
  connect(&m_feed, &WebSocketFeed::ActivityLine, &m_activity, &ActivityLog::InsertActivityLine);
  connect(&m_feed, &WebSocketFeed::ErrorLine, &m_activity, &ActivityLog::ReportError);
  connect(&m_stream, &EventStream::ActivityLine, &m_activity, &ActivityLog::InsertActivityLine);
  connect(&m_stream, &EventStream::ErrorLine, &m_activity, &ActivityLog::ReportError);
  connect(&m_webhooks, &Webhooks::ActivityLine, &m_activity, &ActivityLog::InsertActivityLine);
  connect(&m_webhooks, &Webhooks::ErrorLine, &m_activity, &ActivityLog::ReportError);
  m_feed.SetStatusSource([this] { return RelayStatus(*this); });
  m_feed.SetMetricsSource([this] { return MetricsText(); });
  connect(&m_recorder, &CallRecorder::RecordsWaitingChanged, this,
          &CentrixCore::RecordsWaitingChanged);
  CountIntoMetrics();
}

void CentrixCore::CountIntoMetrics() {
  connect(&m_relay, &ClientRelay::ExtensionNoticeSent, this,
          [this](int clients) { m_metrics.NoticesSent(ClientPort::Extension, clients); });
  connect(&m_relay, &ClientRelay::LdkNoticeSent, this,
          [this](const QByteArray&, const QByteArray&, int clients) {
            m_metrics.NoticesSent(ClientPort::Ldk505, clients);
          });
  connect(&m_feed, &WebSocketFeed::EventSent, this,
          [this](int clients) { m_metrics.NoticesSent(ClientPort::Feed, clients); });
  connect(&m_relay, &ClientRelay::Refused, this, [this](int kind, Admission why) {
    m_metrics.Refused(kind == kLdkClient ? ClientPort::Ldk505 : ClientPort::Extension, why);
  });
  connect(&m_feed, &WebSocketFeed::Refused, this,
          [this](const QByteArray&, Admission why) { m_metrics.Refused(ClientPort::Feed, why); });
  connect(&m_recorder, &CallRecorder::RecordWritten, this, [this] { m_metrics.RecordWritten(); });
  connect(&m_recorder, &CallRecorder::RecordRejected, this, [this] { m_metrics.RecordRejected(); });
}

CentrixCore::~CentrixCore() {
  Shutdown();
  // The journal's last lines go out as the activity log goes, after the
  // stream: nothing is left for it to write by then.
  m_activity.SetBeforeJournalWrite({});
  m_relay.SetBeforeSend({});
}

bool CentrixCore::Start() {
  if (!m_accounts.CreateTelephonyControls()) return false;
  ReadSettings();
  m_accounts.AutoLogin();
  m_relay.StartListening();
  m_feed.Start();
  m_activity.OpenLogFileAtStartup();
  m_activity.StartLogRollover();
  m_stream.Start(*m_context.settings, m_context.stateDirectory);
  return true;
}

void CentrixCore::ReadSettings() {
  m_accounts.ReadSettings();
  SettingsStore& settings = *m_context.settings;
  SetLogType(settings.GetProfileInt(kLogTypeSetting));
  SetSendType(settings.GetProfileInt(kSendTypeSetting));
  SetCenterId(settings.GetProfileInt(kCenterIdSetting));
  m_feed.ReadSettings(settings);
  m_webhooks.ReadSettings(settings);
  m_relay.ReadAccessSettings(settings);
}

void CentrixCore::Shutdown() {
  if (m_bShutDown) return;
  m_bShutDown = true;
  m_activity.Close();
  m_accounts.LogoutAll();
  m_relay.CloseAllClients();
}

// Raised as the telephony side reads the event: the ring's latency counts from here.
void CentrixCore::OnCallEvent(const CallEvent& event) {
  const auto readAt = std::chrono::steady_clock::now();
  const CallOutcome outcome = DecideCallOutcome(event, m_settings);
  for (CallEventOutput* output : m_outputs) output->Deliver(event, outcome);
  if (event.kind == CallEventKind::Ring) {
    m_metrics.RingRelayed(std::chrono::steady_clock::now() - readAt);
  }
  if (outcome.trimActivityList) m_activity.TrimActivityList();
}

void CentrixCore::SetLogType(qint32 logType) {
  m_settings.logType = logType;
  m_relay.SetLogType(logType);
  m_activity.SetLogType(logType);
}

QByteArray CentrixCore::MetricsText() const {
  RelayMetrics::Snapshot snapshot;
  for (int slot = 0; slot < kTelControlCount; ++slot) {
    snapshot.accountsSignedIn += m_accounts.IsSlotSignedIn(slot);
  }
  const ClientRegistry& registry = m_relay.Registry();
  snapshot.clients = {qint64(registry.Table(kExtensionClient).size()),
                      qint64(registry.Table(kLdkClient).size()), m_feed.Connections()};
  snapshot.recordsWaiting = m_recorder.RecordsWaiting();
  return m_metrics.Text(snapshot);
}
