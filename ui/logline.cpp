#include "ui/logline.h"

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
