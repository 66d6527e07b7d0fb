#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// One call event as relayed to the clients; 24 bytes on the wire, little-endian.
struct CallNotice {
  qint32 accountExt = 0;
  qint32 inExten = 0;
  char callerId[12] = {};
  qint32 state = 0;  // 0 ringing, 1 answer
};

constexpr int kCallNoticeSize = 24;
constexpr qint32 kCallStateRinging = 0;
constexpr qint32 kCallStateAnswer = 1;

// The caller's number is cut to 11 bytes; every byte after its NUL is zero.
CallNotice MakeCallNotice(qint32 accountExt, qint32 inExten, const QByteArray& callerId,
                          qint32 state);
QByteArray EncodeCallNotice(const CallNotice& notice);
// The notice a record holds; bytes missing from a short record read as zero.
CallNotice DecodeCallNotice(QByteArrayView record);
// The caller's number up to its NUL (at most 12 bytes read).
QByteArray CallerIdText(const CallNotice& notice);
