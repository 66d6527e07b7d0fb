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
  QByteArray converted;
  if (!ascii) converted = FromCp949(line.toByteArray()).toUtf8();
  const QByteArrayView utf8 = ascii ? line : QByteArrayView(converted);
  static constexpr char kHex[] = "0123456789abcdef";
  QByteArray journal;
  journal.reserve(utf8.size() + 8);
  qsizetype kept = 0;  // bytes of utf8 already in journal
  for (qsizetype at = 0; at < utf8.size(); ++at) {
    const uchar byte = uchar(utf8[at]);
    if (byte >= 0x20 || byte == '\t') continue;
    journal.append(utf8.sliced(kept, at - kept));
    const char escape[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
    journal.append(escape, sizeof escape);
    kept = at + 1;
  }
  journal.append(utf8.sliced(kept));
  return journal;
}
