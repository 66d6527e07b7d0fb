#pragma once

// How the process ends, for a service manager or a script: 0 after an
// orderly end, a distinct code for each start that failed. The codes of a
// bad command line and of an unreadable settings file follow sysexits.h, so
// that a service manager can be told not to restart on them.
enum class ExitCode : int {
  Orderly = 0,
  AlreadyRunning = 3,
  DatabaseUnreachable = 4,
  NetworkUnavailable = 5,
  TelephonyControlsNotCreated = 6,
  // Another process (a relay of another instance) holds the state directory.
  StateDirectoryInUse = 7,
  BadCommandLine = 64,
  // The state directory or its files could not be read or written.
  StateUnusable = 74,
  SettingsUnreadable = 78,
};

constexpr int ToInt(ExitCode code) { return static_cast<int>(code); }
