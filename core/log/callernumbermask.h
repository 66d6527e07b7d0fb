#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A line about a call (ring and answer summaries, LDK505 notice lines,
// record failures) with its caller's number, the word after the first ": ",
// replaced by "***": the time, account and extension stay.
QByteArray WithoutCallerNumber(QByteArrayView line);
