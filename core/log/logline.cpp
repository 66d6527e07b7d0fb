#include "core/log/logline.h"

#include <algorithm>

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
  QByteArrayView line(activityLine);
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  // ASCII reads the same in CP949 and UTF-8; most lines are ASCII, and the
  // journal gets every line the relay has.
  const bool ascii =
      std::all_of(line.begin(), line.end(), [](char byte) { return uchar(byte) < 0x80; });
  const QByteArray utf8 = ascii ? line.toByteArray() : FromCp949(line.toByteArray()).toUtf8();
  QByteArray journal;
  journal.reserve(utf8.size());
  qsizetype kept = 0;  // bytes of utf8 already in journal
  for (qsizetype at = 0; at < utf8.size(); ++at) {
    const uchar byte = uchar(utf8[at]);
    if (byte >= 0x20 || byte == '\t') continue;
    journal.append(utf8.constData() + kept, at - kept);
    journal += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
    kept = at + 1;
  }
  journal.append(utf8.constData() + kept, utf8.size() - kept);
  return journal;
}
