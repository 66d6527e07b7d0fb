#include "core/log/logline.h"

#include "core/text/cp949.h"

QByteArray LogSeparatorLine() { return QByteArray(76, '=') + "\r\n"; }

QByteArray FormatLogEntry(const QDateTime& now, const QByteArray& text) {
  return now.toString(QStringLiteral("MM-dd HH:mm:ss")).toLatin1() + ":  " + text + "\r\n";
}

QString StartupLogFileName(const QString& directory, const QDate& date) {
  return directory + QStringLiteral("/CID_U_") + date.toString(QStringLiteral("yyyyMMdd")) +
         QStringLiteral(".txt");
}

QString HourlyLogFileName(const QString& directory, const QDate& date) {
  return directory + QStringLiteral("/CID_") + date.toString(QStringLiteral("yyyyMMdd")) +
         QStringLiteral(".txt");
}

QByteArray JournalLine(const QByteArray& activityLine) {
  QByteArray line = activityLine;
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  const QByteArray utf8 = FromCp949(line).toUtf8();
  QByteArray journal;
  journal.reserve(utf8.size());
  for (const char byte : utf8) {
    if (uchar(byte) < 0x20 && byte != '\t') {
      journal += "\\x" + QByteArray::number(uchar(byte), 16).rightJustified(2, '0');
    } else {
      journal += byte;
    }
  }
  return journal;
}
