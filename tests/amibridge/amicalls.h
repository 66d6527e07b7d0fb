#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "tools/amibridge/agentevent.h"
#include "tools/amibridge/amimessage.h"

// Call event sequences in the form Asterisk 16+ sends them (field names and
// order as recorded from a real PBX), for the bridge's tests. Agents 301,
// 302 and 303 are Local channels "Local/30x@agents", as in the PBX tests.

struct AmiChannel {
  QByteArray name;
  QByteArray uniqueId;
  QByteArray linkedId;
  QByteArray callerNum;
  QByteArray callerName;
  QByteArray exten;
};

// A channel that dials (nullptr: the PBX itself, as for an Originate).
AmiMessage DialBegin(const AmiChannel* caller, const AmiChannel& dest);
AmiMessage DialEnd(const AmiChannel* caller, const AmiChannel& dest, const QByteArray& status);
AmiMessage BridgeEnter(const AmiChannel& channel);
AmiMessage Hangup(const AmiChannel& channel);

AgentEvent MakeAgentEvent(AgentEvent::Kind kind, const QString& account, const QByteArray& callId,
                          const QByteArray& caller, const QByteArray& name,
                          const QByteArray& inExten, const QByteArray& peer = {},
                          bool outgoing = false);

// One scenario: what the PBX sends, and what the agents' accounts must hear.
struct AmiCall {
  QString name;
  QList<AmiMessage> events;
  QList<AgentEvent> expected;
};

// Accounts of the scenarios: agent1..agent3 on Local/301..303@agents.
struct AmiAgent {
  QString accountId;
  QString password;
  QString number;
  QString endpoint;
};
QList<AmiAgent> AmiAgents();

QList<AmiCall> AmiCalls();

// The bytes of a message block list as the PBX writes them.
QByteArray AmiBytes(const QList<AmiMessage>& messages);
