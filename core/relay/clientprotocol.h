#pragma once

#include <QByteArray>

#include "core/relay/callnotice.h"

constexpr int kMaxReceiveBytes = 4095;
constexpr int kMaxRegistrationBytes = 99;

// The line every LDK505 client gets on connection, CP949, no NUL.
QByteArray GreetingText();
// 0x11 0x55 0xFE 0x00: the 32-bit value 0x00FE5511, little-endian.
QByteArray RegisterAck();
// What one read yields as text: the bytes up to the first NUL.
QByteArray ReceivedText(const QByteArray& bytes);
// Leading decimal number as atoi reads it (white space, sign, digits),
// saturated to the 32-bit range; 0 without digits.
qint32 LeadingInt(const QByteArray& text);
// A registration text as filed: at most 99 bytes, in a buffer of its own.
QByteArray CutRegistrationText(const QByteArray& text);
// The two LDK505 lines of a notice: BEL + "%03d-like : callerId\n" and
// ACK ACK + "... ->  accountExt\n".
QByteArray LdkRingLine(const CallNotice& notice);
QByteArray LdkNoticeLine(const CallNotice& notice);
// Column 3 of a served row: "%s-%d" of the account extension text and inExten.
QByteArray NoticeColumnText(const CallNotice& notice);
