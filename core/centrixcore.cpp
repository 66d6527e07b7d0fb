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
      m_webhooks(m_context.webhookRejectFile),
      m_outputs{&m_accounts, &m_activity, &m_relay, &m_recorder, &m_feed, &m_webhooks} {
  connect(&m_accounts, &TelephoneAccounts::CallEventRaised, this, &CentrixCore::OnCallEvent);
  connect(&m_accounts, &TelephoneAccounts::ActivityLine, &m_activity,
          &ActivityLog::InsertActivityLine);
  connect(&m_relay, &ClientRelay::ActivityLine, &m_activity, &ActivityLog::InsertActivityLine);
  connect(&m_relay, &ClientRelay::ErrorLine, &m_activity, &ActivityLog::ReportError);
  connect(&m_relay, &ClientRelay::LdkNoticeSent, &m_activity, &ActivityLog::NoteLdkNotice);
  connect(&m_relay, &ClientRelay::HostAddressKnown, this, &CentrixCore::HostAddressKnown);
  // A journal line must never reach its reader after the notice it tells of.
  m_relay.SetBeforeSend([this] { m_activity.FlushJournal(); });
  connect(&m_recorder, &CallRecorder::ActivityLine, &m_activity, &ActivityLog::InsertActivityLine);
  connect(&m_recorder, &CallRecorder::ErrorLine, &m_activity, &ActivityLog::ReportError);
  connect(&m_feed, &WebSocketFeed::ActivityLine, &m_activity, &ActivityLog::InsertActivityLine);
  connect(&m_feed, &WebSocketFeed::ErrorLine, &m_activity, &ActivityLog::ReportError);
  connect(&m_webhooks, &Webhooks::ActivityLine, &m_activity, &ActivityLog::InsertActivityLine);
  connect(&m_webhooks, &Webhooks::ErrorLine, &m_activity, &ActivityLog::ReportError);
  m_feed.SetStatusSource([this] { return RelayStatus(*this); });
  connect(&m_recorder, &CallRecorder::RecordsWaitingChanged, this,
          &CentrixCore::RecordsWaitingChanged);
}

CentrixCore::~CentrixCore() { Shutdown(); }

bool CentrixCore::Start() {
  if (!m_accounts.CreateTelephonyControls()) return false;
  ReadSettings();
  m_accounts.AutoLogin();
  m_relay.StartListening();
  m_feed.Start();
  m_activity.OpenLogFileAtStartup();
  m_activity.StartLogRollover();
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

void CentrixCore::OnCallEvent(const CallEvent& event) {
  const CallOutcome outcome = DecideCallOutcome(event, m_settings);
  for (CallEventOutput* output : m_outputs) output->Deliver(event, outcome);
  if (outcome.trimActivityList) m_activity.TrimActivityList();
}

void CentrixCore::SetLogType(qint32 logType) {
  m_settings.logType = logType;
  m_relay.SetLogType(logType);
  m_activity.SetLogType(logType);
}
