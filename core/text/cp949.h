#pragma once

#include <QByteArray>
#include <QString>

// CP949 is the byte encoding used everywhere inside; these are the edges.

// A null or empty text gives empty bytes; a character CP949 cannot hold becomes "?".
QByteArray ToCp949(const QString& text);
// Bytes that are not valid CP949 become U+FFFD.
QString FromCp949(const QByteArray& bytes);
// True for a byte that starts a two-byte CP949 character.
bool IsCp949LeadByte(unsigned char byte);
// Position of the first occurrence of needle at or after from that starts on
// a character boundary (never on the second byte of a two-byte character), or -1.
qsizetype Cp949Find(const QByteArray& haystack, const QByteArray& needle, qsizetype from = 0);
