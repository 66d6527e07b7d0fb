// tarvex-amibridge: the telephony server for the relay's controls, fed by a
// PBX's manager interface (AMI).
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include "core/config/descriptorlimit.h"
#include "core/config/terminationsignals.h"
#include "tools/amibridge/amibridge.h"
#include "tools/amibridge/bridgesettings.h"

namespace {

void Log(const QString& line) {
  static QTextStream err(stderr);
  err << line << Qt::endl;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tarvex-amibridge"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Relays the calls of a PBX (Asterisk Manager Interface) to the Tarvex relay's\n"
      "telephony controls. See docs/pbx-bridge.md."));
  parser.addHelpOption();
  const QCommandLineOption configOption(
      QStringLiteral("config"),
      QStringLiteral("Settings file (default /etc/tarvex/amibridge.conf)."), QStringLiteral("FILE"),
      QStringLiteral("/etc/tarvex/amibridge.conf"));
  parser.addOption(configOption);
  parser.process(app);

  QString error;
  const std::optional<BridgeSettings> settings =
      LoadBridgeSettings(parser.value(configOption), &error);
  if (!settings) {
    Log(QStringLiteral("tarvex-amibridge: %1").arg(error));
    return 2;
  }
  RaiseDescriptorLimit();  // each relay control holds one
  AmiBridge bridge(*settings);
  QObject::connect(&bridge, &AmiBridge::LogLine, &Log);
  if (!bridge.Start(&error)) {
    Log(QStringLiteral("tarvex-amibridge: %1").arg(error));
    return 1;
  }
  TerminationSignals termination;
  QObject::connect(&termination, &TerminationSignals::Terminate, &app, &QCoreApplication::quit);
  return app.exec();
}
