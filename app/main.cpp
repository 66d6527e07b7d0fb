#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

#include "app/commandline.h"
#include "app/exitcode.h"
#include "app/newtoken.h"
#include "app/runmode.h"
#include "app/startupcheck.h"
#include "app/tarvexapp.h"
#include "core/config/appconfig.h"
#include "core/config/descriptorlimit.h"
#include "core/config/instancelock.h"
#include "core/config/messagepresenter.h"
#include "core/config/settingsstore.h"
#include "core/db/callrecording.h"
#include "core/eventloop/epolleventdispatcher.h"
#include "core/log/journalstream.h"
#include "ui/widgetmessagepresenter.h"

namespace {

// The name the executable runs under: message box caption and settings path.
// Read before any application object exists, as the file the system started.
QString ExecutableName(const char* argv0) {
  const QFileInfo self(QStringLiteral("/proc/self/exe"));
  return QFileInfo(self.exists() ? self.symLinkTarget() : QString::fromLocal8Bit(argv0)).baseName();
}

// The application object of kind Application, then the program under it.
template <typename Application, typename Presenter>
int RunUnder(int argc, char** argv, AppConfig config, RunMode mode) {
  Application application(argc, argv);
  Presenter presenter;
  config.presenter = &presenter;
  return CTarvexCentrixApp(std::move(config), mode).Run();
}

// Puts the rejected call records back into the spool. Not beside a running
// relay: both would write the same files.
int RequeueRejected(const AppConfig& config) {
  const InstanceLock running(config.instanceName);
  if (running.AlreadyExists()) {
    std::fputs("Tarvex is running: stop it before putting rejected records back.\n", stderr);
    return ToInt(ExitCode::AlreadyRunning);
  }
  CallRecording recording(config.stateDirectory, config.odbcConnection);
  QString problem;
  if (!recording.Open(&problem)) {
    std::fprintf(stderr, "Cannot open the waiting calls: %s\n", problem.toUtf8().constData());
    return ToInt(ExitCode::StateUnusable);
  }
  const CallRecording::Requeued requeued = recording.RequeueRejected();
  std::printf("%lld records put back from %s; %lld lines kept there.\n",
              static_cast<long long>(requeued.records),
              recording.RejectFilePath().toUtf8().constData(),
              static_cast<long long>(requeued.kept));
  if (requeued.problem.isEmpty()) return ToInt(ExitCode::Orderly);
  std::fprintf(stderr, "%s\n", requeued.problem.toUtf8().constData());
  return ToInt(ExitCode::StateUnusable);
}

}  // namespace

int main(int argc, char** argv) {
  // Help, version, mistakes, the check, the requeue and a new token need neither a display
  // nor the relay.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  const ParsedCommandLine commandLine = ParseCommandLine(arguments);
  if (commandLine.outcome != ParsedCommandLine::Outcome::Run) {
    const bool failed = commandLine.outcome == ParsedCommandLine::Outcome::Error;
    std::fputs(commandLine.text.toUtf8().constData(), failed ? stderr : stdout);
    return ToInt(failed ? ExitCode::BadCommandLine : ExitCode::Orderly);
  }
  AppConfig config = AppConfig::FromEnvironment(ExecutableName(argv[0]));
  config.settingsFile = commandLine.options.configFile;
  if (!commandLine.options.stateDirectory.isEmpty()) {
    config.stateDirectory = commandLine.options.stateDirectory;
  }
  if (commandLine.options.check) {
    const StartupCheck check = RunStartupCheck(*config.OpenSettings(), config.odbcConnection);
    std::fputs(check.report.toUtf8().constData(), stdout);
    return ToInt(check.exitCode);
  }
  if (commandLine.options.requeueRejected) return RequeueRejected(config);
  if (!commandLine.options.newTokenName.isEmpty()) {
    return MakeFeedToken(config, commandLine.options);
  }

  RaiseDescriptorLimit();
  if (RunsHeadless(commandLine.options.noWindow, [](const char* name) { return qgetenv(name); })) {
    RouteQtMessagesToJournal();
    // Before the application object, which would make Qt's own.
    auto* dispatcher = new EpollEventDispatcher;
    if (dispatcher->IsValid()) {
      QCoreApplication::setEventDispatcher(dispatcher);
    } else {
      delete dispatcher;
    }
    return RunUnder<QCoreApplication, HeadlessMessagePresenter>(argc, argv, std::move(config),
                                                                RunMode::Headless);
  }
  QApplication::setQuitOnLastWindowClosed(false);
  return RunUnder<QApplication, WidgetMessagePresenter>(argc, argv, std::move(config),
                                                        RunMode::Window);
}
