#pragma once

#include <QByteArray>

// Value of the first occurrence of key in a CP949 event text: the bytes after
// key and gap up to the first terminator at or after the key, clipped to the
// text; empty when the key or the terminator is missing.
QByteArray GetEventField(const QByteArray& text, const QByteArray& key, int gap, char terminator);

// Leading decimal number as atoi reads it (white space, sign, digits), 0
// without digits; magnitudes past 2^32 read as 2^32, so that a caller may
// still change the sign before saturating to 32 bits.
qint64 LeadingDecimal(const QByteArray& text);

// Lenient integer parse of event values and address parts; 0 when no number.
qint32 ParseLooseInt(const QByteArray& text);

// The last n bytes of text, or all of it when shorter.
QByteArray LastBytes(const QByteArray& text, qsizetype n);
