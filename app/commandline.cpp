#include "app/commandline.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const char kConfig[] = "config";
const char kNoWindow[] = "no-window";
const char kCheck[] = "check";
const char kHelp[] = "help";
const char kVersion[] = "version";

ParsedCommandLine Failure(const QString& program, const QString& reason) {
  return {ParsedCommandLine::Outcome::Error,
          {},
          QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(program, reason)};
}

QString HelpText(const QString& program) {
  return QStringLiteral(
             "Usage: %1 [options]\n"
             "Caller-ID relay: signs the configured accounts in to the telephony server and\n"
             "relays their calls to the clients on ports 8688 and 5100.\n"
             "\n"
             "Options:\n"
             "  -h, --help       Show this help and end.\n"
             "  --version        Show the version and end.\n"
             "  --config FILE    Keep the settings in the INI file FILE (section [SETTING])\n"
             "                   instead of the per-user store.\n"
             "  --no-window      Run without a window, also where a display is available.\n"
             "  --check          Read the settings, connect to the call database, report\n"
             "                   and end: exit status 0 when both work.\n"
             "\n"
             "Environment: TARVEX_ODBC, TARVEX_LOG_DIR, TARVEX_EXT_PORT, TARVEX_LDK_PORT,\n"
             "TARVEX_TEL_PORT, TARVEX_INSTANCE (see %1(8)).\n")
      .arg(program);
}

}  // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
  const QString program =
      arguments.isEmpty() ? QStringLiteral("Tarvex") : QFileInfo(arguments.first()).fileName();
  QCommandLineParser parser;
  parser.addOption({{QStringLiteral("h"), kHelp}, {}});
  parser.addOption({kVersion, {}});
  parser.addOption({kConfig, {}, QStringLiteral("FILE")});
  parser.addOption({kNoWindow, {}});
  parser.addOption({kCheck, {}});
  if (!parser.parse(arguments.isEmpty() ? QStringList{program} : arguments)) {
    return Failure(program, parser.errorText());
  }
  if (!parser.positionalArguments().isEmpty()) {
    return Failure(
        program,
        QStringLiteral("unexpected argument '%1'.").arg(parser.positionalArguments().first()));
  }
  if (parser.isSet(kHelp)) {
    return {ParsedCommandLine::Outcome::ShowHelp, {}, HelpText(program)};
  }
  if (parser.isSet(kVersion)) {
    return {ParsedCommandLine::Outcome::ShowVersion,
            {},
            QStringLiteral("%1 %2\n").arg(program, TarvexVersion())};
  }

  ParsedCommandLine parsed;
  const QStringList configFiles = parser.values(kConfig);
  if (configFiles.size() > 1) {
    return Failure(program, QStringLiteral("--config given more than once."));
  }
  if (!configFiles.isEmpty()) {
    if (configFiles.first().isEmpty()) {
      return Failure(program, QStringLiteral("--config needs a file name."));
    }
    // Settings must not depend on the directory the relay was started from.
    parsed.options.configFile = QFileInfo(configFiles.first()).absoluteFilePath();
  }
  parsed.options.noWindow = parser.isSet(kNoWindow);
  parsed.options.check = parser.isSet(kCheck);
  return parsed;
}

QString TarvexVersion() { return QStringLiteral(TARVEX_VERSION); }
