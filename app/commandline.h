#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of a run.
struct CommandLineOptions {
  // The settings in this INI file instead of the per-user store; empty for
  // the per-user store. Always an absolute path.
  QString configFile;
  bool noWindow = false;
  // Read the settings, try the database, report and end.
  bool check = false;
  // Where the calls waiting for the database are kept; empty for
  // TARVEX_STATE_DIR or its default. Always an absolute path.
  QString stateDirectory;
  // Put the rejected call records back into the spool and end.
  bool requeueRejected = false;
  // Make a browser-feed token: its name, and what it may hear (the
  // extensions, or everything when admin). Empty name: none.
  QString newTokenName{};
  QString tokenExtensions{};
  bool tokenAdmin = false;
};

struct ParsedCommandLine {
  enum class Outcome { Run, ShowHelp, ShowVersion, Error };
  Outcome outcome = Outcome::Run;
  CommandLineOptions options;
  // The help or version text for standard output, or the error for standard error.
  QString text;
};

// arguments as the process got them, the program first. Needs no
// application object, so that --help and --version work without a display.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);

// The version the build was made from.
QString TarvexVersion();
