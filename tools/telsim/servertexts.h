#pragma once

#include <QString>

// Event texts as a telephony server writes them: "KEY:value|" fields. Keys
// are chosen so that none holds a key the relay looks up (its lookup finds
// a key anywhere in the text, inside a longer key too).

QString LoginAcceptedText(const QString& accountId, int status, const QString& number);
QString LoginNotFoundText(const QString& accountId);
QString LoginPasswordErrorText(const QString& accountId);
// An unknown ID or a wrong password, told apart neither by answer nor by time.
QString LoginRefusedText(const QString& accountId);
// The server has lost its calls for now; the reason must hold no ",".
QString LoginOutageText(const QString& accountId, const QString& reason);

QString RingText(const QString& callId, const QString& caller, const QString& inExten, bool isDial);
// The channel reads "SIP/<peer>-<suffix>"; a peer that ends in the account's
// own extension marks a call the account placed.
QString HangUpText(const QString& callId, const QString& caller, const QString& inExten,
                   const QString& channelPeer, const QString& channelSuffix);
// A channel peer for calls from outside: its last three characters read as 0,
// which no signed-in account has as its extension.
inline const QString kOutsideLinePeer = QStringLiteral("trunk");

QString CallEndText(const QString& callId);
