#pragma once

#include <QByteArray>
#include <QString>

// What happened to one agent's phone in a call, as the relay hears of it.
struct AgentEvent {
  enum class Kind { Ring, Answer, End };

  Kind kind = Kind::Ring;
  QString accountId;
  // The PBX's Linkedid: the same for every leg of one call.
  QByteArray callId;
  // The agent's own phone placed the call.
  bool outgoing = false;
  // Inbound: the caller's number and name. Outgoing: the number the agent dialled.
  QByteArray caller;
  QByteArray callerName;
  // Inbound: the number the caller dialled. Outgoing: the number the agent dialled.
  QByteArray inExten;
  // Answer: the channel of the party the agent talks to, as the PBX names it.
  QByteArray peerChannel;

  friend bool operator==(const AgentEvent&, const AgentEvent&) = default;
};
