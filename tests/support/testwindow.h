#pragma once

#include <functional>
#include <memory>

#include "support/handlercore.h"
#include "ui/dlgsetport.h"
#include "ui/tarvexdlg.h"

// What a window under test takes besides its core: the environment's name,
// store and presenter.
MainWindowContext WindowContext(TestEnvironment& environment);

// A window over a core of its own, both started as the program starts them
// (controls created, OnInitDialog run). The core is the window's child and
// ends with it, as the program ends both.
std::unique_ptr<CTarvexCentrixDlg> StartWindow(
    TestEnvironment& environment, TelControlFactory factory = {},
    std::function<int(CDlgSetPort&)> runSetPortDialog = {});

// A core environment with a script for the communication-settings dialog.
class WindowEnvironment : public handlertest::CoreEnvironment {
 public:
  // A window that has run its start-up steps with controls from factory.
  std::unique_ptr<CTarvexCentrixDlg> StartWindow(TelControlFactory factory);

  // Opening the dialog without a script fails the test.
  std::function<int(CDlgSetPort&)> runSetPortDialog;
};
