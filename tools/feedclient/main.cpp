// Sample browser-feed client: signs in with a token and prints each message
// it receives, one JSON a line, and the close code when the relay closes.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>
#include <QWebSocket>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Browser-feed client of the caller-ID relay"));
  parser.addHelpOption();
  parser.addOption({QStringLiteral("url"), QStringLiteral("Feed address (ws:// or wss://)."),
                    QStringLiteral("url"), QStringLiteral("ws://127.0.0.1:8690")});
  parser.addOption({QStringLiteral("token"), QStringLiteral("Token (default: $TARVEX_FEED_TOKEN)."),
                    QStringLiteral("token"), qEnvironmentVariable("TARVEX_FEED_TOKEN")});
  parser.addOption({QStringLiteral("ca"),
                    QStringLiteral("PEM file of the authority that signed the relay's certificate "
                                   "(default: the system's)."),
                    QStringLiteral("file")});
  parser.process(application);

  QWebSocket socket;
  if (parser.isSet(QStringLiteral("ca"))) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(parser.value(QStringLiteral("ca"))));
    socket.setSslConfiguration(tls);
  }
  bool opened = false;
  QObject::connect(&socket, &QWebSocket::connected, [&] {
    opened = true;
    const QJsonObject signIn{{QStringLiteral("type"), QStringLiteral("auth")},
                             {QStringLiteral("token"), parser.value(QStringLiteral("token"))}};
    socket.sendTextMessage(QString::fromUtf8(QJsonDocument(signIn).toJson(QJsonDocument::Compact)));
  });
  QObject::connect(&socket, &QWebSocket::textMessageReceived, [](const QString& message) {
    std::printf("%s\n", message.toUtf8().constData());
    std::fflush(stdout);
  });
  QObject::connect(&socket, &QWebSocket::disconnected, [&] {
    if (!opened) return;  // the error says why
    std::printf("relay closed the feed: %d %s\n", int(socket.closeCode()),
                socket.closeReason().toUtf8().constData());
    application.exit(socket.closeCode() == QWebSocketProtocol::CloseCodeNormal ? 0 : 1);
  });
  QObject::connect(&socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), [&] {
    if (opened) return;  // the close code says why
    std::printf("error: %s\n", socket.errorString().toUtf8().constData());
    application.exit(1);
  });
  socket.open(QUrl(parser.value(QStringLiteral("url"))));
  return application.exec();
}
