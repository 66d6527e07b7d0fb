#include "amicalls.h"

namespace {

using Kind = AgentEvent::Kind;

void AddChannel(AmiMessage& message, const QByteArray& prefix, const AmiChannel& channel) {
  message.Append(prefix + "Channel", channel.name);
  message.Append(prefix + "ChannelState", "6");
  message.Append(prefix + "CallerIDNum", channel.callerNum);
  message.Append(prefix + "CallerIDName", channel.callerName);
  message.Append(prefix + "Exten", channel.exten);
  message.Append(prefix + "Uniqueid", channel.uniqueId);
  message.Append(prefix + "Linkedid", channel.linkedId);
}

AmiMessage Event(const QByteArray& name) {
  AmiMessage event;
  event.Append("Event", name);
  event.Append("Privilege", "call,all");
  return event;
}

AmiChannel Caller(const QByteArray& serial, const QByteArray& uid, const QByteArray& number,
                  const QByteArray& name, const QByteArray& exten) {
  return {"Local/" + number + "@callers-" + serial + ";1", uid, uid, number, name, exten};
}

// An agent's leg; on it the PBX reports the number dialled as the caller, not the caller.
AmiChannel AgentLeg(const QByteArray& ext, const QByteArray& serial, const QByteArray& uid,
                    const QByteArray& linkedId, const QByteArray& shown) {
  return {"Local/" + ext + "@agents-" + serial + ";1", uid, linkedId, shown, "<unknown>", shown};
}

const QString kAgent1 = QStringLiteral("agent1");
const QString kAgent2 = QStringLiteral("agent2");
const QString kAgent3 = QStringLiteral("agent3");
const QByteArray kDid = "07077771234";

AmiCall Answered(const QString& name, const QByteArray& number, const QByteArray& callerName,
                 const QByteArray& callId) {
  const AmiChannel caller = Caller("00000004", callId, number, callerName, kDid);
  const AmiChannel agent = AgentLeg("301", "00000005", callId + "0", callId, kDid);
  AmiCall call{name,
               {DialBegin(&caller, agent), DialEnd(&caller, agent, "ANSWER"), BridgeEnter(agent),
                BridgeEnter(caller), Hangup(caller), Hangup(agent)},
               {}};
  for (Kind kind : {Kind::Ring, Kind::Answer, Kind::End}) {
    call.expected.append(
        MakeAgentEvent(kind, kAgent1, callId, number, callerName, kDid, caller.name));
  }
  return call;
}

AmiCall Unanswered() {
  const AmiChannel caller = Caller("00000006", "1701.1", "01022223333", "<unknown>", kDid);
  const AmiChannel agent = AgentLeg("301", "00000007", "1701.3", "1701.1", kDid);
  return {
      QStringLiteral("inbound unanswered"),
      {DialBegin(&caller, agent), DialEnd(&caller, agent, "NOANSWER"), Hangup(agent),
       Hangup(caller)},
      {MakeAgentEvent(Kind::Ring, kAgent1, "1701.1", "01022223333", "<unknown>", kDid, caller.name),
       MakeAgentEvent(Kind::End, kAgent1, "1701.1", "01022223333", "<unknown>", kDid,
                      caller.name)}};
}

AmiCall DroppedMidRing() {
  const AmiChannel caller = Caller("00000008", "1702.1", "01044445555", "Kim", kDid);
  const AmiChannel agent = AgentLeg("302", "00000009", "1702.3", "1702.1", kDid);
  return {
      QStringLiteral("caller hangs up while it rings"),
      {DialBegin(&caller, agent), Hangup(caller), DialEnd(&caller, agent, "CANCEL"), Hangup(agent)},
      {MakeAgentEvent(Kind::Ring, kAgent2, "1702.1", "01044445555", "Kim", kDid, caller.name),
       MakeAgentEvent(Kind::End, kAgent2, "1702.1", "01044445555", "Kim", kDid, caller.name)}};
}

AmiCall Queue() {
  const QByteArray queueDid = "07077775555";
  const AmiChannel caller = Caller("0000000a", "1703.1", "01055556666", "Queue Caller", queueDid);
  // In a queue the agent's leg shows the caller, unlike a plain dial.
  const AmiChannel a1 = AgentLeg("301", "0000000b", "1703.3", "1703.1", "01055556666");
  const AmiChannel a2 = AgentLeg("302", "0000000c", "1703.5", "1703.1", "01055556666");
  const AmiChannel a3 = AgentLeg("303", "0000000d", "1703.7", "1703.1", "01055556666");
  AmiCall call{QStringLiteral("queue rings three agents, the second answers"),
               {DialBegin(&caller, a1), DialBegin(&caller, a2), DialBegin(&caller, a3),
                DialEnd(&caller, a2, "ANSWER"), DialEnd(&caller, a1, "CANCEL"),
                DialEnd(&caller, a3, "CANCEL"), DialEnd(&caller, a1, "CANCEL"), Hangup(a1),
                DialEnd(&caller, a3, "CANCEL"), Hangup(a3), BridgeEnter(a2), BridgeEnter(caller),
                Hangup(caller), Hangup(a2)},
               {}};
  const auto expect = [&](Kind kind, const QString& account) {
    return MakeAgentEvent(kind, account, "1703.1", "01055556666", "Queue Caller", queueDid,
                          caller.name);
  };
  call.expected = {expect(Kind::Ring, kAgent1), expect(Kind::Ring, kAgent2),
                   expect(Kind::Ring, kAgent3), expect(Kind::Answer, kAgent2),
                   expect(Kind::End, kAgent1),  expect(Kind::End, kAgent3),
                   expect(Kind::End, kAgent2)};
  return call;
}

AmiCall Transfer() {
  AmiChannel caller = Caller("0000000e", "1704.1", "01077778888", "Transfer Caller", kDid);
  const AmiChannel a1 = AgentLeg("301", "0000000f", "1704.3", "1704.1", kDid);
  const AmiChannel a2 = AgentLeg("302", "00000010", "1704.5", "1704.1", "302");
  QList<AmiMessage> events{DialBegin(&caller, a1), DialEnd(&caller, a1, "ANSWER"), BridgeEnter(a1),
                           BridgeEnter(caller)};
  // A blind transfer sends the caller on to another extension: the dial to
  // the second agent comes from there, but the call keeps its first number.
  caller.exten = "302";
  events += {DialBegin(&caller, a2), Hangup(a1),     DialEnd(&caller, a2, "ANSWER"),
             BridgeEnter(a2),        Hangup(caller), Hangup(a2)};
  const auto expect = [&](Kind kind, const QString& account) {
    return MakeAgentEvent(kind, account, "1704.1", "01077778888", "Transfer Caller", kDid,
                          caller.name);
  };
  return {QStringLiteral("blind transfer from one agent to another"),
          events,
          {expect(Kind::Ring, kAgent1), expect(Kind::Answer, kAgent1), expect(Kind::Ring, kAgent2),
           expect(Kind::End, kAgent1), expect(Kind::Answer, kAgent2), expect(Kind::End, kAgent2)}};
}

AmiCall Outgoing() {
  // The PBX rings the agent's phone first (a call placed from the desktop),
  // then the phone dials out.
  AmiChannel agent = AgentLeg("301", "00000011", "1705.1", "1705.1", "301");
  const AmiChannel callee{"Local/0212345678@callees-00000012;1",
                          "1705.3",
                          "1705.1",
                          "0212345678",
                          "<unknown>",
                          "0212345678"};
  QList<AmiMessage> events{DialBegin(nullptr, agent), DialEnd(nullptr, agent, "ANSWER")};
  agent.exten = "0212345678";
  events += {DialBegin(&agent, callee),
             DialEnd(&agent, callee, "ANSWER"),
             BridgeEnter(callee),
             BridgeEnter(agent),
             Hangup(callee),
             Hangup(agent)};
  return {QStringLiteral("call the agent places"),
          events,
          {MakeAgentEvent(Kind::Ring, kAgent1, "1705.1", {}, {}, {}, agent.name, true),
           MakeAgentEvent(Kind::Answer, kAgent1, "1705.1", "0212345678", {}, "0212345678",
                          agent.name, true),
           MakeAgentEvent(Kind::End, kAgent1, "1705.1", "0212345678", {}, "0212345678", agent.name,
                          true)}};
}

}  // namespace

AgentEvent MakeAgentEvent(AgentEvent::Kind kind, const QString& account, const QByteArray& callId,
                          const QByteArray& caller, const QByteArray& name,
                          const QByteArray& inExten, const QByteArray& peer, bool outgoing) {
  AgentEvent event;
  event.kind = kind;
  event.accountId = account;
  event.callId = callId;
  event.caller = caller;
  event.callerName = name;
  event.inExten = inExten;
  event.peerChannel = peer;
  event.outgoing = outgoing;
  return event;
}

AmiMessage DialBegin(const AmiChannel* caller, const AmiChannel& dest) {
  AmiMessage event = Event("DialBegin");
  if (caller != nullptr) AddChannel(event, {}, *caller);
  AddChannel(event, "Dest", dest);
  event.Append("DialString", dest.name.left(dest.name.indexOf('-')).mid(6));
  return event;
}

AmiMessage DialEnd(const AmiChannel* caller, const AmiChannel& dest, const QByteArray& status) {
  AmiMessage event = Event("DialEnd");
  if (caller != nullptr) AddChannel(event, {}, *caller);
  AddChannel(event, "Dest", dest);
  event.Append("DialStatus", status);
  return event;
}

AmiMessage BridgeEnter(const AmiChannel& channel) {
  AmiMessage event = Event("BridgeEnter");
  event.Append("BridgeUniqueid", "1b7226dc-30f3-4e44-bd56-a077fdd41f7b");
  AddChannel(event, {}, channel);
  return event;
}

AmiMessage Hangup(const AmiChannel& channel) {
  AmiMessage event = Event("Hangup");
  AddChannel(event, {}, channel);
  event.Append("Cause", "16");
  return event;
}

QList<AmiAgent> AmiAgents() {
  QList<AmiAgent> agents;
  for (int n = 1; n <= 3; ++n) {
    agents.append({QStringLiteral("agent%1").arg(n), QStringLiteral("secret%1").arg(n),
                   QStringLiteral("0701234530%1").arg(n),
                   QStringLiteral("Local/30%1@agents").arg(n)});
  }
  return agents;
}

QList<AmiCall> AmiCalls() {
  return {Answered(QStringLiteral("inbound answered"), "01012345678", "Lee", "1700.8"),
          Answered(QStringLiteral("caller with a Korean name"), "01099998888",
                   QStringLiteral("홍길동").toUtf8(), "1706.2"),
          Unanswered(),
          DroppedMidRing(),
          Queue(),
          Transfer(),
          Outgoing()};
}

QByteArray AmiBytes(const QList<AmiMessage>& messages) {
  QByteArray bytes;
  for (const AmiMessage& message : messages) bytes += message.Encode();
  return bytes;
}
