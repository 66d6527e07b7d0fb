#pragma once

#include <QtGlobal>

// A port free at the moment of asking, on every IPv4 address. Below the
// system's range for outgoing connections (32768 on), so that none of the
// thousands of connections the tests make can take it before the relay
// binds it; below the throw-away PostgreSQL clusters' too (25432 on).
quint16 AnyFreePort();
