#include "app/tarvexapp.h"

#include <sys/socket.h>
#include <unistd.h>

#include "app/settingsstore.h"
#include "app/terminationsignals.h"
#include "db/calldatabase.h"
#include "telephony/cp949.h"
#include "ui/tarvexdlg.h"

CTarvexCentrixApp::CTarvexCentrixApp(AppConfig config) : m_config(std::move(config)) {}

CTarvexCentrixApp::~CTarvexCentrixApp() = default;

int CTarvexCentrixApp::Run() {
  InitInstance();
  return ExitInstance();
}

void CTarvexCentrixApp::ShowMessage(const char* utf8Text, MessageIcon icon) {
  m_config.presenter->Show(nullptr, m_config.applicationName, ToCp949(QString::fromUtf8(utf8Text)),
                           MessageButtons::Ok, icon);
}

bool CTarvexCentrixApp::InitInstance() {
  m_instanceLock = std::make_unique<InstanceLock>(m_config.instanceName);
  if (m_instanceLock->AlreadyExists()) {
    ShowMessage("DALK 서비스가 이미 실행중입니다.", MessageIcon::None);
    m_exitCode = ExitCode::AlreadyRunning;
    return false;
  }

  m_database = std::make_unique<CallDatabase>(m_config.odbcConnection);
  if (!m_database->ConnectDB()) {
    m_database->DisconnectDB();
    ShowMessage("서버에 접속할수 없습니다.", MessageIcon::Exclamation);
    m_exitCode = ExitCode::DatabaseUnreachable;
    return true;
  }

  if (!InitNetwork()) {
    ShowMessage("Windows 소켓을 초기화하지 못했습니다.", MessageIcon::None);
    m_exitCode = ExitCode::NetworkUnavailable;
    return false;
  }

  const std::unique_ptr<SettingsStore> settings = m_config.OpenSettings();
  if (!settings->IsReadable()) {
    ShowMessage(("설정 파일을 읽을 수 없습니다: " + settings->Location().toStdString()).c_str(),
                MessageIcon::Exclamation);
    m_exitCode = ExitCode::SettingsUnreadable;
    return false;
  }
  MainWindowContext context;
  context.applicationName = m_config.applicationName;
  context.settings = settings.get();
  context.presenter = m_config.presenter;
  context.database = m_database.get();
  context.telControlFactory = m_config.telControlFactory;
  context.logDirectory = m_config.logDirectory;
  context.extPort = m_config.extPort;
  context.ldkPort = m_config.ldkPort;
  context.clock = m_config.clock;

  {
    CTarvexCentrixDlg dialog(std::move(context));
    m_database->SetDiagnosticSink(
        [&dialog](const QByteArray& line) { dialog.InsertActivityLine(line); });
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::Terminate, &dialog,
                     &CTarvexCentrixDlg::EndWithoutAsking);
    // The window ends with -1 when it could not create its telephony controls.
    if (dialog.DoModal() == -1) m_exitCode = ExitCode::TelephonyControlsNotCreated;
  }
  m_database->SetDiagnosticSink({});
  return false;
}

int CTarvexCentrixApp::ExitInstance() {
  if (m_database) m_database->DisconnectDB();
  return ToInt(m_exitCode);
}

// The sockets layer is ready when the system hands out a stream socket.
bool CTarvexCentrixApp::InitNetwork() {
  const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  ::close(probe);
  return true;
}
