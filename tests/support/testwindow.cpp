#include "support/testwindow.h"

#include <gtest/gtest.h>

MainWindowContext WindowContext(TestEnvironment& environment) {
  MainWindowContext context;
  context.applicationName = TestEnvironment::ApplicationName();
  context.settings = &environment.Settings();
  context.presenter = &environment.presenter;
  return context;
}

std::unique_ptr<CTarvexCentrixDlg> StartWindow(TestEnvironment& environment,
                                               TelControlFactory factory,
                                               std::function<int(CDlgSetPort&)> runSetPortDialog) {
  auto* core = new CentrixCore(environment.Context(std::move(factory)));
  MainWindowContext context = WindowContext(environment);
  context.runSetPortDialog = std::move(runSetPortDialog);
  auto window = std::make_unique<CTarvexCentrixDlg>(*core, std::move(context));
  core->setParent(window.get());
  if (!core->Accounts().CreateTelephonyControls()) return nullptr;
  window->OnInitDialog();
  return window;
}

std::unique_ptr<CTarvexCentrixDlg> WindowEnvironment::StartWindow(TelControlFactory factory) {
  // Through a lambda, so that a test may script the dialog after the start.
  return ::StartWindow(*this, std::move(factory), [this](CDlgSetPort& dialog) {
    if (runSetPortDialog) return runSetPortDialog(dialog);
    ADD_FAILURE() << "the settings dialog was opened without a script";
    return 0;
  });
}
