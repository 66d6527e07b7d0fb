#pragma once

#include <QAbstractSocket>

// Hands bytes straight to the system, without waiting and without SIGPIPE;
// how many it took (0: none, Qt is left to wait or report the error). Only
// for a socket Qt holds nothing back for: a write through Qt turns its
// write notifier on and off, a round trip through the event loop.
qsizetype SendNow(const QAbstractSocket& socket, const char* data, qsizetype size);
