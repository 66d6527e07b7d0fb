#pragma once

#include <QString>
#include <utility>

#include "tools/amibridge/agentevent.h"

// The event name and text of the line protocol for an agent event. number is
// what the account's sign-in reports; its last three characters are the
// extension, which the channel of an outgoing call's answer ends in.
std::pair<QString, QString> AgentEventText(const AgentEvent& event, const QString& number);

// "SIP/<peer>-<serial>" as the relay reads a channel, from a PBX channel of
// any technology: "PJSIP/trunk-0000001a" gives peer "trunk" and serial "0000001a".
// A peer that would read as the agent's own extension becomes "trunk", so an
// incoming call is never taken for one the agent placed.
std::pair<QString, QString> RelayChannel(const QByteArray& channel, const QString& extension);
// What follows a channel's endpoint, without "-": "0000001a", "0000001f;2".
QString ChannelSerial(const QByteArray& channel);

// An event text as the journal shows it: the caller's number and name
// ("CALLERID", "CALLER1ID", "CALLERNAME") read "*".
QString JournalEventText(const QString& text);
