#include "app/tarvexapp.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>

#include "app/servicereporter.h"
#include "app/startproblems.h"
#include "core/centrixcore.h"
#include "core/config/settingsstore.h"
#include "core/config/systemdnotifier.h"
#include "core/config/terminationsignals.h"
#include "core/db/calldatabase.h"
#include "core/db/callrecording.h"
#include "core/log/journalstream.h"
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
    m_exitCode = ExitCode::AlreadyRunning;
    return false;
  }
  // Without a usable spool the calls are recorded on the event loop as before;
  // beside another process's spool they would be lost or written twice.
  auto recording =
      std::make_unique<CallRecording>(m_config.stateDirectory, m_config.odbcConnection);
  QString spoolProblem;
  if (!recording->Open(&spoolProblem)) {
    if (recording->HeldElsewhere()) {
      ShowMessage(("DB 기록 대기열을 다른 프로세스가 쓰고 있습니다: " +
                   m_config.stateDirectory.toStdString())
                      .c_str(),
                  MessageIcon::Exclamation);
      m_exitCode = ExitCode::StateDirectoryInUse;
      return false;
    }
    recording.reset();
  }

  m_database = std::make_unique<CallDatabase>(m_config.odbcConnection);
  if (!m_database->ConnectDB()) {
    m_database->DisconnectDB();
    ShowMessage("서버에 접속할수 없습니다.", MessageIcon::Exclamation);
    m_exitCode = ExitCode::DatabaseUnreachable;
    return false;
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
  CoreContext context;
  context.settings = settings.get();
  context.recording = recording.get();
  context.database = m_database.get();
  context.telControlFactory = m_config.telControlFactory;
  context.logDirectory = m_config.logDirectory;
  context.extPort = m_config.extPort;
  context.ldkPort = m_config.ldkPort;
  context.feedPort = m_config.feedPort;
  context.stateDirectory = m_config.stateDirectory;
  context.webhookRejectFile =
      QDir(m_config.stateDirectory).filePath(QStringLiteral("webhooks.rejected.txt"));
  context.clock = m_config.clock;
  {
    CentrixCore core(std::move(context));
    m_database->SetDiagnosticSink(
        [&core](const QByteArray& line) { core.Activity().InsertActivityLine(line); });
    if (recording) {
      recording->Start();
    } else {
      const QByteArray line =
          ToCp949(QStringLiteral("DB 기록 대기열을 열 수 없습니다: ") + spoolProblem);
      WriteJournalLine(JournalPriority::Warning, JournalLine(line));
      core.Activity().InsertActivityLine(line);
    }
    if (m_mode == RunMode::Headless) {
      RunHeadless(core);
    } else {
      RunWindow(core, *settings);
    }
    if (recording) recording->Finish(kRecordingDrainBudget);
  }
  m_database->SetDiagnosticSink({});
  return true;
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
  // The window ends with -1 when it could not create its telephony controls.
  if (dialog.DoModal() == -1) m_exitCode = ExitCode::TelephonyControlsNotCreated;
}

void CTarvexCentrixApp::RunHeadless(CentrixCore& core) {
  core.Activity().MirrorToJournal();
  SystemdNotifier notifier;
  TerminationSignals terminationSignals;
  QObject::connect(&terminationSignals, &TerminationSignals::Terminate,
                   QCoreApplication::instance(), &QCoreApplication::quit);
  if (!core.Start()) {
    WriteJournalLine(JournalPriority::Error, "The telephony controls could not be created.");
    m_exitCode = ExitCode::TelephonyControlsNotCreated;
    return;
  }
  for (const QByteArray& problem : StartProblems(core)) {
    WriteJournalLine(JournalPriority::Error, problem);
  }
  // Both ports are tried and every sign-in has been sent.
  notifier.NotifyReady();
  ServiceReporter reporter(core, notifier);
  reporter.Start();
  QCoreApplication::exec();
  // Signing out and closing the clients follow as the core goes.
  notifier.NotifyStopping();
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
