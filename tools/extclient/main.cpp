// Sample extension client: registers a text on the relay's extension port and
// prints the acknowledgement and every 24-byte call record it receives.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTcpSocket>
#include <cstdio>

#include "core/relay/callnotice.h"
#include "core/relay/clientprotocol.h"
#include "core/text/cp949.h"

namespace {

void Print(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

QString Describe(const QByteArray& record) {
  const CallNotice notice = DecodeCallNotice(record);
  return QStringLiteral("record: account %1, line %2, caller %3, %4")
      .arg(notice.accountExt)
      .arg(notice.inExten)
      .arg(FromCp949(CallerIdText(notice)))
      .arg(notice.state == kCallStateRinging  ? QStringLiteral("ringing")
           : notice.state == kCallStateAnswer ? QStringLiteral("answered")
                                              : QString::number(notice.state));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Extension client of the caller-ID relay"));
  parser.addHelpOption();
  parser.addOption({QStringLiteral("host"), QStringLiteral("Relay address."),
                    QStringLiteral("address"), QStringLiteral("127.0.0.1")});
  parser.addOption({QStringLiteral("port"), QStringLiteral("Extension port."),
                    QStringLiteral("port"), QStringLiteral("8688")});
  parser.addOption({QStringLiteral("register"), QStringLiteral("Registration text, e.g. 301,302."),
                    QStringLiteral("text"), QStringLiteral("301")});
  parser.process(application);

  QTcpSocket socket;
  QByteArray pending;
  bool acknowledged = false;
  const QByteArray registration = ToCp949(parser.value(QStringLiteral("register")));

  QObject::connect(&socket, &QTcpSocket::connected, [&] {
    Print(QStringLiteral("connected, registering \"%1\"").arg(FromCp949(registration)));
    socket.write(registration);
  });
  QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
    pending += socket.readAll();
    if (!acknowledged && pending.size() >= RegisterAck().size()) {
      acknowledged = pending.startsWith(RegisterAck());
      Print(acknowledged ? QStringLiteral("registered (ack 11 55 fe 00)")
                         : QStringLiteral("unexpected answer: %1")
                               .arg(QString::fromLatin1(pending.left(4).toHex(' '))));
      pending.remove(0, RegisterAck().size());
    }
    while (pending.size() >= kCallNoticeSize) {
      Print(Describe(pending.left(kCallNoticeSize)));
      pending.remove(0, kCallNoticeSize);
    }
  });
  QObject::connect(&socket, &QTcpSocket::disconnected, [&] {
    Print(QStringLiteral("relay closed the connection"));
    application.quit();
  });
  QObject::connect(&socket, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError) {
    Print(QStringLiteral("error: %1").arg(socket.errorString()));
    application.exit(1);
  });
  socket.connectToHost(parser.value(QStringLiteral("host")),
                       quint16(parser.value(QStringLiteral("port")).toUInt()));
  return application.exec();
}
