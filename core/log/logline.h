#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>

// 76 "=" and CR LF.
QByteArray LogSeparatorLine();
// "HH:mm:ss", 24-hour.
QByteArray ClockText(const QTime& time);
// "%m-%d %H:%M:%S:  text" and CR LF, the text unchanged.
QByteArray FormatLogEntry(const QDateTime& now, const QByteArray& text);
// directory/CID_U_yyyyMMdd.txt, the file opened at start-up.
QString StartupLogFileName(const QString& directory, const QDate& date);
// directory/CID_yyyyMMdd.txt, the file opened by the hourly check.
QString HourlyLogFileName(const QString& directory, const QDate& date);
// An activity line as one UTF-8 line for the service journal: line ends at
// its end dropped, other control bytes shown as \xHH.
QByteArray JournalLine(const QByteArray& activityLine);
