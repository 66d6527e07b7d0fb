// telsim: a telephony server simulator for the relay's stand-in controls.
#include <unistd.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <memory>

#include "core/telephony/telprotocol.h"
#include "tools/telsim/commandrunner.h"
#include "tools/telsim/loadgenerator.h"
#include "tools/telsim/telephonyserver.h"

namespace {

constexpr int kShutdownGraceMs = 3000;

void Print(const QString& line) {
  static QTextStream out(stdout);
  out << line << Qt::endl;
}

int Fail(const QString& message) {
  QTextStream(stderr) << "telsim: " << message << Qt::endl;
  return 2;
}

// Feeds standard input to the runner line by line without blocking the event loop.
void ReadCommandsFromStdin(CommandRunner& runner, QObject* owner) {
  auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, owner);
  auto reader = std::make_shared<TelLineReader>();
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [&runner, notifier, reader] {
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
      // End of input: keep serving until "quit" or a signal.
      notifier->setEnabled(false);
      return;
    }
    for (const QByteArray& line : reader->Feed(QByteArrayView(buffer, count))) {
      runner.Enqueue(QString::fromUtf8(line).remove(QLatin1Char('\r')));
    }
  });
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("telsim"));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Telephony server simulator: answers the sign-ins of the relay's telephony\n"
                     "controls and sends call events on command (standard input, a script\n"
                     "file) or at a steady rate.\n\n") +
      CommandHelp() +
      QStringLiteral("\n\nA script holds the same commands. With --rate, ring/hangup/callend "
                     "cycles run over\nall signed-in accounts from the first sign-in on."));
  parser.addHelpOption();
  const QCommandLineOption portOption(
      QStringLiteral("port"),
      QStringLiteral("TCP port to listen on (default %1).").arg(kDefaultTelephonyPort),
      QStringLiteral("P"), QString::number(kDefaultTelephonyPort));
  const QCommandLineOption listenOption(QStringLiteral("listen"),
                                        QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                        QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
  const QCommandLineOption accountOption(
      QStringLiteral("account"),
      QStringLiteral("An account (repeatable). EXT is the number reported in MSG; its last three\n"
                     "characters are the extension. STATUS defaults to 1."),
      QStringLiteral("ID:PWD:EXT[:STATUS]"));
  const QCommandLineOption scriptOption(QStringLiteral("script"),
                                        QStringLiteral("Run the commands of FILE first."),
                                        QStringLiteral("FILE"));
  const QCommandLineOption rateOption(QStringLiteral("rate"),
                                      QStringLiteral("Load mode: N events per second."),
                                      QStringLiteral("N"));
  const QCommandLineOption durationOption(
      QStringLiteral("duration"),
      QStringLiteral("Load mode: run S seconds, then quit (default: until quit)."),
      QStringLiteral("S"));
  parser.addOptions(
      {portOption, listenOption, accountOption, scriptOption, rateOption, durationOption});
  parser.process(app);

  bool ok = false;
  const uint port = parser.value(portOption).toUInt(&ok);
  if (!ok || port > 65535) {
    return Fail(QStringLiteral("bad --port"));
  }
  const QHostAddress listenAddress(parser.value(listenOption));
  if (listenAddress.isNull()) {
    return Fail(QStringLiteral("bad --listen"));
  }
  int rate = 0;
  if (parser.isSet(rateOption)) {
    rate = parser.value(rateOption).toInt(&ok);
    if (!ok || rate <= 0) {
      return Fail(QStringLiteral("bad --rate"));
    }
  }
  double durationSecs = 0;
  if (parser.isSet(durationOption)) {
    durationSecs = parser.value(durationOption).toDouble(&ok);
    if (!ok || durationSecs <= 0 || rate == 0) {
      return Fail(QStringLiteral("bad --duration (it needs --rate)"));
    }
  }

  TelephonyServer server;
  for (const QString& accountText : parser.values(accountOption)) {
    const std::optional<TelAccount> account = ParseTelAccount(accountText);
    if (!account) {
      return Fail(QStringLiteral("bad --account %1").arg(accountText));
    }
    server.AddAccount(*account);
  }
  QStringList script;
  if (parser.isSet(scriptOption)) {
    QFile file(parser.value(scriptOption));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
      return Fail(QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
    }
    script = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
  }
  if (!server.Listen(static_cast<quint16>(port), listenAddress)) {
    QTextStream(stderr) << "telsim: cannot listen: " << server.ErrorString() << Qt::endl;
    return 1;
  }
  Print(QStringLiteral("listening on %1:%2").arg(listenAddress.toString()).arg(server.Port()));

  QObject::connect(
      &server, &TelephonyServer::SignInHandled,
      [](const QString& kind, const QString& id, const QString&, const QString& reply) {
        Print(QStringLiteral("%1 %2 -> %3").arg(kind, id, reply));
      });
  QObject::connect(&server, &TelephonyServer::AccountSignedOut,
                   [](const QString& id) { Print(QStringLiteral("%1 signed out").arg(id)); });
  QObject::connect(&server, &TelephonyServer::ConnectionCountChanged,
                   [](int count) { Print(QStringLiteral("%1 connection(s)").arg(count)); });

  // Ends once every connection has taken its last events, or after a grace period.
  const auto shutdown = [&app, &server] {
    QObject::connect(&server, &TelephonyServer::ConnectionCountChanged, &app, [&app](int count) {
      if (count == 0) {
        app.quit();
      }
    });
    QTimer::singleShot(kShutdownGraceMs, &app, &QCoreApplication::quit);
    server.Close();
    if (server.ConnectionCount() == 0) {
      app.quit();
    }
  };

  CommandRunner runner(server);
  QObject::connect(&runner, &CommandRunner::Output, &Print);
  QObject::connect(&runner, &CommandRunner::QuitRequested, &app, shutdown, Qt::QueuedConnection);

  LoadGenerator load(server);
  if (rate > 0) {
    const auto durationMs = static_cast<qint64>(durationSecs * 1000);
    QObject::connect(&load, &LoadGenerator::Progress, [](qint64 sent, int accounts) {
      Print(
          QStringLiteral("load: %1 events sent, %2 account(s) signed in").arg(sent).arg(accounts));
    });
    QObject::connect(&load, &LoadGenerator::Finished, &app, [shutdown](qint64 sent) {
      Print(QStringLiteral("load: done, %1 events sent").arg(sent));
      shutdown();
    });
    QObject::connect(&server, &TelephonyServer::AccountSignedIn, &load,
                     [&load, rate, durationMs, started = false]() mutable {
                       if (!started) {
                         started = true;
                         load.Start(rate, durationMs);
                       }
                     });
    Print(QStringLiteral("load: %1 events per second once an account signs in").arg(rate));
  }

  for (const QString& line : script) {
    runner.Enqueue(line);
  }
  ReadCommandsFromStdin(runner, &app);
  return app.exec();
}
