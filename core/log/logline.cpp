#include "core/log/logline.h"

#include <algorithm>

#include "core/text/cp949.h"

QByteArray LogSeparatorLine() { return QByteArray(76, '=') + "\r\n"; }

namespace {

// Two digits with a leading zero; what the clock's fields always fit in.
void AppendTwoDigits(QByteArray& text, int value) {
  text += char('0' + value / 10 % 10);
  text += char('0' + value % 10);
}

}  // namespace

// Formatted by hand: Qt's formatting of a time took more than the rest of
// a telephony event's log line.
QByteArray ClockText(const QTime& time) {
  QByteArray text;
  text.reserve(8);
  AppendTwoDigits(text, time.hour());
  text += ':';
  AppendTwoDigits(text, time.minute());
  text += ':';
  AppendTwoDigits(text, time.second());
  return text;
}

QByteArray FormatLogEntry(const QDateTime& now, const QByteArray& text) {
  QByteArray entry;
  entry.reserve(18 + text.size());
  const QDate date = now.date();
  AppendTwoDigits(entry, date.month());
  entry += '-';
  AppendTwoDigits(entry, date.day());
  entry += ' ';
  entry += ClockText(now.time());
  entry += ":  ";
  entry += text;
  entry += "\r\n";
  return entry;
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
