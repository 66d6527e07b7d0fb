#pragma once

#include <QByteArray>
#include <QByteArrayView>

// One whole, unmasked text frame: what a server sends carries no mask, so
// an event framed once goes to every browser that hears it as it is.
QByteArray WebSocketTextFrame(QByteArrayView utf8);
