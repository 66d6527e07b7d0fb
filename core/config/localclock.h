#pragma once

#include <QDateTime>

// The current local time, as a time at the zone's present offset from UTC.
// The offset is looked up at most once a second per thread: the lookup
// reads the zone's file, and at full load it took a seventh of the relay's
// time, once per telephony event.
QDateTime LocalNow();
