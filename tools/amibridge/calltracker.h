#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

#include "tools/amibridge/agentdirectory.h"
#include "tools/amibridge/agentevent.h"
#include "tools/amibridge/amimessage.h"

// Follows the PBX's calls through its events (Asterisk 16 and later: DialBegin,
// DialEnd, BridgeEnter, Hangup) and tells what happens to the agents' phones.
// An agent's leg is the channel of the agent's phone in one call, known by its
// Uniqueid; the legs of one call share a Linkedid, which remembers the number
// the caller first dialled through queues and transfers.
class CallTracker {
 public:
  explicit CallTracker(const AgentDirectory& agents) : m_agents(agents) {}

  QList<AgentEvent> OnEvent(const AmiMessage& event);
  // The link to the PBX is lost: every leg ends, and nothing is remembered.
  QList<AgentEvent> EndAll();
  qsizetype OpenLegs() const { return m_legs.size(); }

 private:
  struct Leg {
    AgentEvent call;
    bool answered = false;
  };

  QList<AgentEvent> OnDialBegin(const AmiMessage& event);
  QList<AgentEvent> OnDialEnd(const AmiMessage& event);
  QList<AgentEvent> OnBridgeEnter(const AmiMessage& event);
  QList<AgentEvent> OnHangup(const AmiMessage& event);
  bool HasLeg(const QString& accountId, const QByteArray& callId) const;
  // The number first dialled in the call, taken from the channel that dials now when new.
  QByteArray DialledNumber(const QByteArray& callId, const QByteArray& exten);
  static AgentEvent Answered(Leg& leg);

  const AgentDirectory& m_agents;
  QHash<QByteArray, Leg> m_legs;
  QHash<QByteArray, QByteArray> m_dialled;
};
