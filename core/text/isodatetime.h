#pragma once

#include <QByteArray>
#include <QtGlobal>

// "2026-12-08T17:11:51+09:00", or "...Z" at offset zero: what
// QDateTime::toString(Qt::ISODate) gives for that instant at that offset,
// without the time-zone look-ups QDateTime makes on the way.
QByteArray IsoDateTime(qint64 msecsSinceEpoch, int offsetSeconds);

// The local time's offset from UTC at that instant, in seconds.
int LocalOffsetAt(qint64 msecsSinceEpoch);
