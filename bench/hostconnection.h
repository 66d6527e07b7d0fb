#pragma once

#include <QByteArray>
#include <QtGlobal>

// A blocking TCP connection to a loopback port from the loopback address
// source (host order), a host of its own to the relay; receiveBufferBytes > 0
// shrinks the system's receive buffer first. The descriptor, or -1 with
// errno set.
int ConnectFromHost(quint32 source, quint16 port, int receiveBufferBytes = 0);

// Writes all of bytes or reports false.
bool SendAll(int fd, const QByteArray& bytes);

// A browser of the feed on port from source: connected as above, upgraded to
// a WebSocket and signed in with token, its welcome read. The descriptor
// (blocking), or -1.
int SignInBrowser(quint32 source, quint16 port, const QByteArray& token,
                  int receiveBufferBytes = 0);
