#include "core/centrixcore.h"

#include "core/config/settingsstore.h"
#include "core/db/callrecording.h"
#include "core/log/logline.h"
#include "core/text/cp949.h"

namespace {

constexpr int kHourMs = 3600000;

struct ColumnItem {
  const char* header;
  int width;
};
const ColumnItem kAccountColumns[] = {{"NO", 30},       {"ID", 90},        {"PWD", 90},
                                      {"내선번호", 60}, {"수신시간", 100}, {"작업내용", 150}};

}  // namespace

QByteArray TimeText(const QDateTime& time) { return ClockText(time.time()); }

CentrixCore::CentrixCore(CoreContext context, QObject* parent)
    : QObject(parent),
      m_context(std::move(context)),
      m_logFile(m_context.logDirectory),
      m_relay(m_context.extPort, m_context.ldkPort) {
  for (const ColumnItem& column : kAccountColumns) {
    m_listAccounts.InsertColumn(ToCp949(QString::fromUtf8(column.header)), column.width);
  }
  m_timerLogRollover.callOnTimeout(this, &CentrixCore::CheckLogFileDate);
  connect(&m_relay, &ClientRelay::ActivityLine, this, &CentrixCore::InsertActivityLine);
  connect(&m_relay, &ClientRelay::SortedActivityLine, this, &CentrixCore::AppendActivityLine);
  connect(&m_relay, &ClientRelay::HostAddressKnown, this, &CentrixCore::HostAddressKnown);
  if (m_context.recording) {
    connect(m_context.recording, &CallRecording::ActivityLine, this,
            &CentrixCore::InsertActivityLine);
    connect(m_context.recording, &CallRecording::RecordsWaitingChanged, this,
            &CentrixCore::RecordsWaitingChanged);
  }
}

CentrixCore::~CentrixCore() { Shutdown(); }

bool CentrixCore::Start() {
  if (!CreateTelephonyControls()) return false;
  ReadSettings();
  AutoLogin();
  StartListening();
  OpenLogFileAtStartup();
  StartLogRollover();
  return true;
}

// The telephony controls of the first kind, ids 1028 to 1087.
bool CentrixCore::CreateTelephonyControls() {
  for (int slot = 0; slot < kTelControlCount; ++slot) {
    auto control = m_context.telControlFactory
                       ? m_context.telControlFactory(kFirstTelControlId + slot)
                       : nullptr;
    if (!control) return false;
    connect(control.get(), &CTelBaseOpenApi::LoginResult, this, &CentrixCore::OnLoginResult);
    connect(control.get(), &CTelBaseOpenApi::Ring, this, &CentrixCore::OnRing);
    connect(control.get(), &CTelBaseOpenApi::HangUp, this, &CentrixCore::OnHangUp);
    connect(control.get(), &CTelBaseOpenApi::CallEnd, this, &CentrixCore::OnCallEnd);
    m_telControls[size_t(slot)] = std::move(control);
  }
  return true;
}

void CentrixCore::ReadSettings() {
  SettingsStore& settings = *m_context.settings;
  for (int n = 1; n <= kTelControlCount; ++n) {
    AccountSlot& slot = m_accounts[size_t(n - 1)];
    slot.m_strUID = settings.GetProfileString(QStringLiteral("UID%1").arg(n), {});
    slot.m_strPWD = settings.GetProfileString(QStringLiteral("PWD%1").arg(n), {});
    slot.m_strServerIP = settings.GetProfileString(QStringLiteral("SERVERIP%1").arg(n), {});
  }
  SetServerType(settings.GetProfileInt(QStringLiteral("SERVERTYPE"), 0));
  SetLogType(settings.GetProfileInt(QStringLiteral("LOGTYPE"), 0));
  SetSendType(settings.GetProfileInt(QStringLiteral("SENDTYPE"), 0));
  SetCenterId(settings.GetProfileInt(QStringLiteral("CENTERID"), 0));
}

void CentrixCore::StartLogRollover() { m_timerLogRollover.start(kHourMs); }

void CentrixCore::Shutdown() {
  if (m_bShutDown) return;
  m_bShutDown = true;
  m_timerLogRollover.stop();
  m_logFile.Close();
  LogoutAll();
  m_relay.CloseAllClients();
}

void CentrixCore::SetLogType(qint32 logType) {
  m_nLogType = logType;
  m_relay.SetLogType(logType);
}

void CentrixCore::SetSendType(qint32 sendType) {
  m_nSendType = sendType;
  m_relay.SetSendType(sendType);
}
