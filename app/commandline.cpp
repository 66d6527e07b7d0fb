#include "app/commandline.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "core/feed/feedtoken.h"

namespace {

const char kConfig[] = "config";
const char kStateDir[] = "state-dir";
const char kNoWindow[] = "no-window";
const char kCheck[] = "check";
const char kRequeueRejected[] = "requeue-rejected";
const char kNewToken[] = "new-token";
const char kExtensions[] = "extensions";
const char kAdmin[] = "admin";
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
             "  --state-dir DIR  Keep the calls waiting for the call database in DIR\n"
             "                   instead of TARVEX_STATE_DIR or ~/.local/share/tarvex.\n"
             "  --no-window      Run without a window, also where a display is available.\n"
             "  --check          Read the settings, connect to the call database, report\n"
             "                   and end: exit status 0 when both work.\n"
             "  --requeue-rejected\n"
             "                   Put the call records of the reject file back into the\n"
             "                   waiting calls, for the next start to write, and end.\n"
             "                   Refused while the relay runs.\n"
             "  --new-token NAME --extensions 301,302 | --admin\n"
             "                   Make a token for the browser feed that hears the calls\n"
             "                   of those extensions (or, with --admin, every call and the\n"
             "                   status), keep only its hash in the settings, print the\n"
             "                   token once and end. A running relay takes it at once.\n"
             "\n"
             "Environment: TARVEX_ODBC, TARVEX_LOG_DIR, TARVEX_EXT_PORT, TARVEX_LDK_PORT,\n"
             "TARVEX_TEL_PORT, TARVEX_FEED_PORT, TARVEX_INSTANCE, TARVEX_STATE_DIR\n"
             "(see %1(8)).\n")
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
  parser.addOption({kStateDir, {}, QStringLiteral("DIR")});
  parser.addOption({kNoWindow, {}});
  parser.addOption({kCheck, {}});
  parser.addOption({kRequeueRejected, {}});
  parser.addOption({kNewToken, {}, QStringLiteral("NAME")});
  parser.addOption({kExtensions, {}, QStringLiteral("LIST")});
  parser.addOption({kAdmin, {}});
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

  // A path given at most once and not empty, made absolute: what the relay
  // reads and writes must not depend on the directory it was started from.
  QString error;
  const auto path = [&](const char* option, const char* what) {
    const QStringList values = parser.values(option);
    if (values.size() > 1) {
      error = QStringLiteral("--%1 given more than once.").arg(option);
    } else if (!values.isEmpty() && values.first().isEmpty()) {
      error = QStringLiteral("--%1 needs a %2.").arg(option, what);
    }
    return values.isEmpty() || !error.isEmpty() ? QString()
                                                : QFileInfo(values.first()).absoluteFilePath();
  };
  ParsedCommandLine parsed;
  parsed.options.configFile = path(kConfig, "file name");
  if (!error.isEmpty()) return Failure(program, error);
  parsed.options.stateDirectory = path(kStateDir, "directory name");
  if (!error.isEmpty()) return Failure(program, error);
  parsed.options.noWindow = parser.isSet(kNoWindow);
  parsed.options.check = parser.isSet(kCheck);
  parsed.options.requeueRejected = parser.isSet(kRequeueRejected);
  parsed.options.newTokenName = parser.value(kNewToken);
  parsed.options.tokenExtensions = parser.value(kExtensions);
  parsed.options.tokenAdmin = parser.isSet(kAdmin);
  if (parser.isSet(kNewToken)) {
    if (!FeedToken::IsValidName(parsed.options.newTokenName)) {
      return Failure(program, QStringLiteral("--new-token needs a name of letters, digits, '-' "
                                             "and '_' (at most 32)."));
    }
    if (parser.isSet(kExtensions) == parsed.options.tokenAdmin) {
      return Failure(program, QStringLiteral("--new-token needs either --extensions or --admin."));
    }
    if (!parsed.options.tokenAdmin) {
      FeedToken::ParseExtensions(parsed.options.tokenExtensions, &error);
      if (!error.isEmpty()) return Failure(program, QStringLiteral("--extensions: %1.").arg(error));
    }
  } else if (parser.isSet(kExtensions) || parsed.options.tokenAdmin) {
    return Failure(program, QStringLiteral("--extensions and --admin go with --new-token."));
  }
  return parsed;
}

QString TarvexVersion() { return QStringLiteral(TARVEX_VERSION); }
