#pragma once

#include <memory>

#include "app/appconfig.h"
#include "app/exitcode.h"
#include "app/instancelock.h"
#include "app/messagepresenter.h"

class CallDatabase;

// The application object: single-instance check, database connection,
// settings key, then the main window run modally.
class CTarvexCentrixApp {
 public:
  explicit CTarvexCentrixApp(AppConfig config);
  ~CTarvexCentrixApp();

  // Runs the whole program from start-up to exit; returns the process exit code.
  int Run();

 private:
  bool InitInstance();
  int ExitInstance();
  bool InitNetwork();
  void ShowMessage(const char* utf8Text, MessageIcon icon);

  AppConfig m_config;
  std::unique_ptr<InstanceLock> m_instanceLock;
  std::unique_ptr<CallDatabase> m_database;
  ExitCode m_exitCode = ExitCode::Orderly;
};
