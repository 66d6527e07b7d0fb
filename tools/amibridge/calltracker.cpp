#include "tools/amibridge/calltracker.h"

#include <algorithm>

namespace {

// Events of calls whose end never came must not pile up for ever.
constexpr qsizetype kMaxRemembered = 10000;

bool IsAnswer(const AmiMessage& event) { return event.Value("DialStatus") == "ANSWER"; }

}  // namespace

QList<AgentEvent> CallTracker::OnEvent(const AmiMessage& event) {
  const QByteArray name = event.EventName();
  if (name == "DialBegin") return OnDialBegin(event);
  if (name == "DialEnd") return OnDialEnd(event);
  if (name == "BridgeEnter") return OnBridgeEnter(event);
  if (name == "Hangup") return OnHangup(event);
  return {};
}

QList<AgentEvent> CallTracker::EndAll() {
  QList<AgentEvent> ended;
  for (Leg& leg : m_legs) {
    leg.call.kind = AgentEvent::Kind::End;
    ended.append(leg.call);
  }
  m_legs.clear();
  m_dialled.clear();
  return ended;
}

QList<AgentEvent> CallTracker::OnDialBegin(const AmiMessage& event) {
  if (m_legs.size() > kMaxRemembered) {
    m_legs.clear();
  }
  QList<AgentEvent> events;
  const QByteArray callerId = event.Value("Uniqueid");
  const QByteArray destId = event.Value("DestUniqueid");
  const AgentDirectory::Agent* caller = m_agents.AgentOf(event.Value("Channel"));
  const AgentDirectory::Agent* dest = m_agents.AgentOf(event.Value("DestChannel"));

  // The agent's phone dials out. The PBX may have rung it first (a call
  // placed from the desktop), then its leg is already known.
  const QByteArray linkedId = event.Value("Linkedid");
  if (caller != nullptr && !callerId.isEmpty()) {
    auto leg = m_legs.find(callerId);
    // The inner half of a channel that rings the agent, dialling the agent's
    // phone, is that same ring, not a call the agent places.
    if (leg == m_legs.end() && HasLeg(caller->accountId, linkedId)) {
      return events;
    }
    if (leg == m_legs.end()) {
      leg = m_legs.insert(callerId, {});
      leg->call.accountId = caller->accountId;
      leg->call.callId = linkedId;
      leg->call.outgoing = true;
      leg->call.peerChannel = event.Value("Channel");
    }
    if (leg->call.outgoing && leg->call.inExten.isEmpty()) {
      leg->call.inExten = event.Value("Exten");
      leg->call.caller = leg->call.inExten;
    }
  }
  if (dest == nullptr || destId.isEmpty() || m_legs.contains(destId)) {
    return events;
  }
  const QByteArray callId = callerId.isEmpty() ? event.Value("DestLinkedid") : linkedId;
  // One ring per agent and call, even when the agent's phone is reached
  // through a chain of channels (a Local channel that dials the phone).
  if (HasLeg(dest->accountId, callId)) {
    return events;
  }
  Leg leg;
  leg.call.accountId = dest->accountId;
  leg.call.callId = callId;
  if (callerId.isEmpty()) {
    // No calling channel: the PBX rings the agent's phone to place a call for it.
    leg.call.outgoing = true;
    leg.call.peerChannel = event.Value("DestChannel");
  } else {
    leg.call.caller = event.Value("CallerIDNum");
    leg.call.callerName = event.Value("CallerIDName");
    leg.call.inExten = DialledNumber(callId, event.Value("Exten"));
    leg.call.peerChannel = event.Value("Channel");
  }
  m_legs.insert(destId, leg);
  events.append(leg.call);
  return events;
}

QList<AgentEvent> CallTracker::OnDialEnd(const AmiMessage& event) {
  QList<AgentEvent> events;
  if (IsAnswer(event)) {
    // The agent picked up a call, or the party an agent called did.
    for (const QByteArray& id : {event.Value("DestUniqueid"), event.Value("Uniqueid")}) {
      const auto leg = m_legs.find(id);
      if (leg != m_legs.end() && !leg->answered &&
          (leg->call.outgoing == (id == event.Value("Uniqueid")))) {
        events.append(Answered(*leg));
      }
    }
    return events;
  }
  // A ring that stopped unanswered ends that agent's leg; the other agents
  // rung by the same queue are told on their own.
  const auto leg = m_legs.find(event.Value("DestUniqueid"));
  if (leg != m_legs.end() && !leg->answered && !leg->call.outgoing) {
    leg->call.kind = AgentEvent::Kind::End;
    events.append(leg->call);
    m_legs.erase(leg);
  }
  return events;
}

QList<AgentEvent> CallTracker::OnBridgeEnter(const AmiMessage& event) {
  // A leg can be joined to its call without a dial reporting the answer.
  const auto leg = m_legs.find(event.Value("Uniqueid"));
  if (leg == m_legs.end() || leg->answered || leg->call.outgoing) {
    return {};
  }
  return {Answered(*leg)};
}

QList<AgentEvent> CallTracker::OnHangup(const AmiMessage& event) {
  const QByteArray id = event.Value("Uniqueid");
  if (id == event.Value("Linkedid")) {
    m_dialled.remove(id);
  }
  const auto leg = m_legs.find(id);
  if (leg == m_legs.end()) {
    return {};
  }
  leg->call.kind = AgentEvent::Kind::End;
  const AgentEvent ended = leg->call;
  m_legs.erase(leg);
  return {ended};
}

bool CallTracker::HasLeg(const QString& accountId, const QByteArray& callId) const {
  return std::any_of(m_legs.cbegin(), m_legs.cend(), [&](const Leg& leg) {
    return leg.call.accountId == accountId && leg.call.callId == callId;
  });
}

QByteArray CallTracker::DialledNumber(const QByteArray& callId, const QByteArray& exten) {
  if (m_dialled.size() > kMaxRemembered) {
    m_dialled.clear();
  }
  const auto known = m_dialled.constFind(callId);
  if (known != m_dialled.cend()) {
    return *known;
  }
  m_dialled.insert(callId, exten);
  return exten;
}

AgentEvent CallTracker::Answered(Leg& leg) {
  leg.answered = true;
  AgentEvent answer = leg.call;
  answer.kind = AgentEvent::Kind::Answer;
  return answer;
}
