#pragma once

#include <QByteArray>

// Value of the first occurrence of key in a CP949 event text: the bytes after
// key and gap up to the first terminator at or after the key, clipped to the
// text, and ending at its first NUL; empty when the key or the terminator is
// missing.
QByteArray GetEventField(const QByteArray& text, const QByteArray& key, int gap, char terminator);

// Leading decimal number as atoi reads it (white space, sign, digits), 0
// without digits; magnitudes past 2^32 read as 2^32, so that a caller may
// still change the sign before saturating to 32 bits.
qint64 LeadingDecimal(const QByteArray& text);
// value clamped to the 32-bit range.
qint32 SaturateToInt32(qint64 value);

// Lenient integer parse of event values and address parts; 0 when no number.
qint32 ParseLooseInt(const QByteArray& text);

// The STATUS code of a sign-in result text: 1 or more is a success, -1 an
// unknown ID, -2 a wrong password.
qint32 LoginStatus(const QByteArray& loginResultText);
bool LoginSucceeded(const QByteArray& loginResultText);

// The last n bytes of text, or all of it when shorter.
QByteArray LastBytes(const QByteArray& text, qsizetype n);
