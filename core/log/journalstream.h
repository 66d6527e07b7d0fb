#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Priorities of the systemd journal, as the "<n>" prefix of a line gives them.
enum class JournalPriority { Error = 3, Warning = 4, Info = 6 };

// Whether fd is the stream systemd connected to the journal for this process
// (JOURNAL_STREAM holds its device and inode).
bool IsJournalStream(int fd);

// text as it goes to standard error: each of its lines with the priority
// prefix when withPriority, and ended by a line feed.
QByteArray JournalText(JournalPriority priority, QByteArrayView utf8Text, bool withPriority);

// Whether standard error is the journal (checked once).
bool StandardErrorIsJournal();

// Writes text to standard error at once, with priority prefixes when
// standard error is the journal; elsewhere (a terminal, a file) plain.
void WriteJournalLine(JournalPriority priority, QByteArrayView utf8Text);

// Qt's own messages (warnings of its classes) with their priorities too,
// when standard error is the journal; otherwise Qt's default output stays.
void RouteQtMessagesToJournal();
