#pragma once

#include <QString>
#include <string>

#include "app/exitcode.h"

class SettingsStore;

struct StartupCheck {
  ExitCode exitCode;
  // Lines for standard output, each ended by a line feed.
  QString report;
};

// What --check does: reads the settings, then connects to the call database
// and disconnects. It neither listens, nor signs in, nor takes the
// single-instance marker, so it may run beside a running relay.
StartupCheck RunStartupCheck(SettingsStore& settings, const std::string& odbcConnection);
