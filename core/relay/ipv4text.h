#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>

// Dotted decimal text of an IPv4 address, an IPv4-mapped IPv6 address shown
// as plain IPv4; empty for anything else.
QByteArray DottedIpv4(const QHostAddress& address);
// The dotted text of the first IPv4 address in the list, or empty.
QByteArray FirstIpv4Text(const QList<QHostAddress>& addresses);
