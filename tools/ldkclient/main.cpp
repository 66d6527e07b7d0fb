// Sample LDK505 client: prints the greeting and the ring and notice lines it
// receives, converted to UTF-8, with the control bytes named.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTcpSocket>
#include <cstdio>

#include "core/text/cp949.h"

namespace {

void PrintLine(const QByteArray& line) {
  QString text;
  qsizetype start = 0;
  for (; start < line.size() && uchar(line[start]) < 0x20; ++start) {
    text += line[start] == '\x07'   ? QStringLiteral("<BEL>")
            : line[start] == '\x06' ? QStringLiteral("<ACK>")
                                    : QStringLiteral("<%1>").arg(uchar(line[start]), 2, 16);
  }
  text += FromCp949(line.mid(start));
  std::printf("%s\n", text.toUtf8().constData());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("LDK505 client of the caller-ID relay"));
  parser.addHelpOption();
  parser.addOption({QStringLiteral("host"), QStringLiteral("Relay address."),
                    QStringLiteral("address"), QStringLiteral("127.0.0.1")});
  parser.addOption({QStringLiteral("port"), QStringLiteral("LDK505 port."), QStringLiteral("port"),
                    QStringLiteral("5100")});
  parser.process(application);

  QTcpSocket socket;
  QByteArray pending;
  QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
    pending += socket.readAll();
    for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
      PrintLine(pending.left(end));
      pending.remove(0, end + 1);
    }
  });
  QObject::connect(&socket, &QTcpSocket::disconnected, [&] {
    std::printf("relay closed the connection\n");
    application.quit();
  });
  QObject::connect(&socket, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError) {
    std::printf("error: %s\n", socket.errorString().toUtf8().constData());
    application.exit(1);
  });
  socket.connectToHost(parser.value(QStringLiteral("host")),
                       quint16(parser.value(QStringLiteral("port")).toUInt()));
  return application.exec();
}
