#include "app/tarvexapp.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>

#include "core/centrixcore.h"
#include "core/config/settingsstore.h"
#include "core/config/terminationsignals.h"
#include "core/db/calldatabase.h"
#include "core/db/callrecording.h"
#include "core/log/logline.h"
#include "core/text/cp949.h"
#include "ui/tarvexdlg.h"

namespace {

// What the writer may still write at the end; the rest waits for the next start.
constexpr std::chrono::milliseconds kRecordingDrainBudget(3000);

}  // namespace

CTarvexCentrixApp::CTarvexCentrixApp(AppConfig config, RunMode mode)
    : m_config(std::move(config)), m_mode(mode) {}

CTarvexCentrixApp::~CTarvexCentrixApp() = default;

int CTarvexCentrixApp::Run() {
  InitInstance();
  return ExitInstance();
}

void CTarvexCentrixApp::ShowMessage(const char* utf8Text, MessageIcon icon) {
  m_config.presenter->Show(m_config.applicationName, ToCp949(QString::fromUtf8(utf8Text)),
                           MessageButtons::Ok, icon);
}

bool CTarvexCentrixApp::InitInstance() {
  m_instanceLock = std::make_unique<InstanceLock>(m_config.instanceName);
  if (m_instanceLock->AlreadyExists()) {
    ShowMessage("DALK 서비스가 이미 실행중입니다.", MessageIcon::None);
    return false;
  }

  m_database = std::make_unique<CallDatabase>(m_config.odbcConnection);
  if (!m_database->ConnectDB()) {
    m_database->DisconnectDB();
    ShowMessage("서버에 접속할수 없습니다.", MessageIcon::Exclamation);
    return true;
  }

  if (!InitNetwork()) {
    ShowMessage("Windows 소켓을 초기화하지 못했습니다.", MessageIcon::None);
    return false;
  }

  // Without a usable spool the calls are recorded on the event loop as before.
  auto recording =
      std::make_unique<CallRecording>(m_config.stateDirectory, m_config.odbcConnection);
  QString spoolProblem;
  if (!recording->Open(&spoolProblem)) recording.reset();

  SettingsStore settings(m_config.settingsOrganization, m_config.applicationName);
  CoreContext context;
  context.settings = &settings;
  context.recording = recording.get();
  context.database = m_database.get();
  context.telControlFactory = m_config.telControlFactory;
  context.logDirectory = m_config.logDirectory;
  context.extPort = m_config.extPort;
  context.ldkPort = m_config.ldkPort;
  context.clock = m_config.clock;
  {
    CentrixCore core(std::move(context));
    m_database->SetDiagnosticSink(
        [&core](const QByteArray& line) { core.InsertActivityLine(line); });
    if (recording) {
      recording->Start();
    } else {
      const QByteArray line =
          ToCp949(QStringLiteral("DB 기록 대기열을 열 수 없습니다: ") + spoolProblem);
      std::fprintf(stderr, "%s\n", JournalLine(line).constData());
      core.InsertActivityLine(line);
    }
    if (m_mode == RunMode::Headless) {
      RunHeadless(core);
    } else {
      RunWindow(core, settings);
    }
    if (recording) recording->Finish(kRecordingDrainBudget);
  }
  m_database->SetDiagnosticSink({});
  return false;
}

void CTarvexCentrixApp::RunWindow(CentrixCore& core, SettingsStore& settings) {
  MainWindowContext context;
  context.applicationName = m_config.applicationName;
  context.settings = &settings;
  context.presenter = m_config.presenter;
  CTarvexCentrixDlg dialog(core, std::move(context));
  TerminationSignals terminationSignals;
  QObject::connect(&terminationSignals, &TerminationSignals::Terminate, &dialog,
                   &CTarvexCentrixDlg::EndWithoutAsking);
  dialog.DoModal();
}

void CTarvexCentrixApp::RunHeadless(CentrixCore& core) {
  core.Activity().SetMirror([](const QByteArray& line) {
    std::fprintf(stderr, "%s\n", JournalLine(line).constData());
    std::fflush(stderr);
  });
  TerminationSignals terminationSignals;
  QObject::connect(&terminationSignals, &TerminationSignals::Terminate,
                   QCoreApplication::instance(), &QCoreApplication::quit);
  if (core.Start()) QCoreApplication::exec();
}

int CTarvexCentrixApp::ExitInstance() {
  if (m_database) m_database->DisconnectDB();
  return 0;
}

// The sockets layer is ready when the system hands out a stream socket.
bool CTarvexCentrixApp::InitNetwork() {
  const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  ::close(probe);
  return true;
}
