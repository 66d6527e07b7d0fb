#pragma once

#include <memory>

#include "app/exitcode.h"
#include "core/config/appconfig.h"
#include "core/config/instancelock.h"
#include "core/config/messagepresenter.h"

class CallDatabase;
class CentrixCore;
class SettingsStore;

enum class RunMode { Window, Headless };

// The application object: single-instance check, database connection,
// settings, then the relay core run under its window or alone.
class CTarvexCentrixApp {
 public:
  CTarvexCentrixApp(AppConfig config, RunMode mode);
  ~CTarvexCentrixApp();

  // Runs the whole program from start-up to exit; returns the process exit code.
  int Run();

 private:
  // False when start-up ended the program before the relay ran.
  bool InitInstance();
  int ExitInstance();
  bool InitNetwork();
  void ShowMessage(const char* utf8Text, MessageIcon icon);
  // The window over the core, modally, until the operator ends it.
  void RunWindow(CentrixCore& core, SettingsStore& settings);
  // The core alone until SIGTERM, SIGINT or SIGHUP, telling systemd how it
  // goes; activity lines go to standard error.
  void RunHeadless(CentrixCore& core);

  AppConfig m_config;
  RunMode m_mode;
  std::unique_ptr<InstanceLock> m_instanceLock;
  std::unique_ptr<CallDatabase> m_database;
  ExitCode m_exitCode = ExitCode::Orderly;
};
