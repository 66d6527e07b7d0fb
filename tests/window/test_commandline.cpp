#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>

#include "app/commandline.h"
#include "support/qtprint.h"

namespace {

using Outcome = ParsedCommandLine::Outcome;

TEST(CommandLineTest, OptionsAndTheirMistakes) {
  struct Case {
    QStringList arguments;
    Outcome outcome;
    CommandLineOptions options;
    // Part of the error text; the whole text always names the program and --help.
    QString error;
  };
  const QString absolute = QDir::current().absoluteFilePath(QStringLiteral("tarvex.conf"));
  const Case cases[] = {
      {{}, Outcome::Run, {}, {}},
      {{"--no-window"}, Outcome::Run, {{}, true, false, {}}, {}},
      {{"--check"}, Outcome::Run, {{}, false, true, {}}, {}},
      {{"--config", "/etc/tarvex/tarvex.conf", "--check", "--no-window"},
       Outcome::Run,
       {"/etc/tarvex/tarvex.conf", true, true, {}},
       {}},
      {{"--config=/etc/tarvex/tarvex.conf"},
       Outcome::Run,
       {"/etc/tarvex/tarvex.conf", false, false, {}},
       {}},
      {{"--config", "tarvex.conf"}, Outcome::Run, {absolute, false, false, {}}, {}},
      // The value of --config, however it looks, asks for no run mode.
      {{"--config", "--no-window"},
       Outcome::Run,
       {QDir::current().absoluteFilePath(QStringLiteral("--no-window")), false, false, {}},
       {}},
      {{"--config", "/etc/tarvex/../tarvex/./t.conf"},
       Outcome::Run,
       {"/etc/tarvex/t.conf", false, false, {}},
       {}},
      {{"--state-dir", "/var/lib/tarvex", "--no-window"},
       Outcome::Run,
       {{}, true, false, "/var/lib/tarvex"},
       {}},
      {{"--state-dir=spool"},
       Outcome::Run,
       {{}, false, false, QDir::current().absoluteFilePath(QStringLiteral("spool"))},
       {}},
      {{"--requeue-rejected", "--state-dir", "/var/lib/tarvex"},
       Outcome::Run,
       {{}, false, false, "/var/lib/tarvex", true},
       {}},
      {{"--new-token", "desk-1", "--extensions", "301, 0302"},
       Outcome::Run,
       {{}, false, false, {}, false, "desk-1", "301, 0302", false},
       {}},
      {{"--new-token", "boss", "--admin"},
       Outcome::Run,
       {{}, false, false, {}, false, "boss", {}, true},
       {}},
      {{"--new-token", "a b", "--admin"}, Outcome::Error, {}, "--new-token needs a name"},
      {{"--new-token", "x"}, Outcome::Error, {}, "either --extensions or --admin"},
      {{"--new-token", "x", "--admin", "--extensions", "1"}, Outcome::Error, {}, "either"},
      {{"--new-token", "x", "--extensions", "30a"}, Outcome::Error, {}, "not an extension"},
      {{"--new-token", "x", "--extensions", "1,,2"}, Outcome::Error, {}, "not an extension"},
      {{"--admin"}, Outcome::Error, {}, "go with --new-token"},
      {{"--state-dir"}, Outcome::Error, {}, "Missing value after '--state-dir'"},
      {{"--state-dir="}, Outcome::Error, {}, "--state-dir needs a directory name"},
      {{"--state-dir", "a", "--state-dir", "b"}, Outcome::Error, {}, "more than once"},
      {{"--help"}, Outcome::ShowHelp, {}, {}},
      {{"-h"}, Outcome::ShowHelp, {}, {}},
      {{"--check", "--help"}, Outcome::ShowHelp, {}, {}},
      {{"--version"}, Outcome::ShowVersion, {}, {}},
      {{"--version", "--help"}, Outcome::ShowHelp, {}, {}},
      {{"--bogus"}, Outcome::Error, {}, "Unknown option 'bogus'"},
      {{"--help", "--bogus"}, Outcome::Error, {}, "Unknown option 'bogus'"},
      {{"-x"}, Outcome::Error, {}, "Unknown option 'x'"},
      {{"--no-windows"}, Outcome::Error, {}, "Unknown option 'no-windows'"},
      {{"--config"}, Outcome::Error, {}, "Missing value after '--config'"},
      {{"--config="}, Outcome::Error, {}, "--config needs a file name"},
      {{"--config", "a.conf", "--config", "b.conf"}, Outcome::Error, {}, "more than once"},
      {{"--check=yes"}, Outcome::Error, {}, "Unexpected value after '--check'"},
      {{"start"}, Outcome::Error, {}, "unexpected argument 'start'"},
      {{"--", "--check"}, Outcome::Error, {}, "unexpected argument '--check'"},
      {{"-platform", "offscreen"}, Outcome::Error, {}, "Unknown option"},
      {{QString::fromUtf8("--\xec\x84\xa4\xec\xa0\x95")}, Outcome::Error, {}, "Unknown option"},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = ParseCommandLine(QStringList{"/usr/bin/Tarvex"} + c.arguments);
    const QString what = c.arguments.join(' ');
    EXPECT_EQ(parsed.outcome, c.outcome) << what << ": " << parsed.text;
    EXPECT_EQ(parsed.options.configFile, c.options.configFile) << what;
    EXPECT_EQ(parsed.options.noWindow, c.options.noWindow) << what;
    EXPECT_EQ(parsed.options.check, c.options.check) << what;
    EXPECT_EQ(parsed.options.stateDirectory, c.options.stateDirectory) << what;
    EXPECT_EQ(parsed.options.requeueRejected, c.options.requeueRejected) << what;
    EXPECT_EQ(parsed.options.newTokenName, c.options.newTokenName) << what;
    EXPECT_EQ(parsed.options.tokenExtensions, c.options.tokenExtensions) << what;
    EXPECT_EQ(parsed.options.tokenAdmin, c.options.tokenAdmin) << what;
    if (c.outcome == Outcome::Error) {
      EXPECT_TRUE(parsed.text.contains(c.error)) << what << ": " << parsed.text;
      EXPECT_TRUE(parsed.text.startsWith("Tarvex: ")) << what << ": " << parsed.text;
      EXPECT_TRUE(parsed.text.contains("Tarvex --help")) << what;
    }
    EXPECT_TRUE(parsed.text.isEmpty() || parsed.text.endsWith('\n')) << what;
  }
}

TEST(CommandLineTest, HelpAndVersionNameTheProgramAsItWasStarted) {
  const ParsedCommandLine help = ParseCommandLine({"/opt/x/TarvexTest", "--help"});
  EXPECT_TRUE(help.text.startsWith("Usage: TarvexTest [options]\n")) << help.text;
  for (const char* option : {"--help", "--version", "--config FILE", "--state-dir DIR",
                             "--no-window", "--check", "--requeue-rejected", "--new-token NAME"}) {
    EXPECT_TRUE(help.text.contains(option)) << option;
  }
  const ParsedCommandLine version = ParseCommandLine({"Tarvex", "--version"});
  EXPECT_EQ(version.text, "Tarvex " + TarvexVersion() + "\n");
  EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(TarvexVersion()).hasMatch())
      << TarvexVersion();
  // Without even a program name there is still a name to show.
  EXPECT_TRUE(ParseCommandLine({}).text.isEmpty());
  EXPECT_TRUE(ParseCommandLine({}).outcome == Outcome::Run);
}

}  // namespace
