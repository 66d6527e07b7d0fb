// What the agents' accounts hear of the PBX's calls, from event sequences in
// the form the PBX sends them.
#include <gtest/gtest.h>

#include "amicalls.h"
#include "support/qtprint.h"
#include "tools/amibridge/calltracker.h"

namespace {

AgentDirectory Directory() {
  AgentDirectory agents;
  for (const AmiAgent& agent : AmiAgents()) {
    agents.Add(agent.accountId, agent.number, {agent.endpoint});
  }
  return agents;
}

const char* KindName(AgentEvent::Kind kind) {
  switch (kind) {
    case AgentEvent::Kind::Ring:
      return "Ring";
    case AgentEvent::Kind::Answer:
      return "Answer";
    case AgentEvent::Kind::End:
      return "End";
  }
  return "?";
}

std::string Describe(const QList<AgentEvent>& events) {
  std::string text;
  for (const AgentEvent& e : events) {
    text += std::string(KindName(e.kind)) + " " + e.accountId.toStdString() + " call " +
            e.callId.toStdString() + " caller " + e.caller.toStdString() + " exten " +
            e.inExten.toStdString() + " peer " + e.peerChannel.toStdString() +
            (e.outgoing ? " outgoing" : "") + "\n";
  }
  return text;
}

TEST(CallTracker, FollowsEveryKindOfCall) {
  const AgentDirectory agents = Directory();
  for (const AmiCall& call : AmiCalls()) {
    CallTracker tracker(agents);
    QList<AgentEvent> heard;
    for (const AmiMessage& event : call.events) heard += tracker.OnEvent(event);
    EXPECT_EQ(Describe(heard), Describe(call.expected)) << call.name.toStdString();
    EXPECT_EQ(heard, call.expected) << call.name.toStdString();
    EXPECT_EQ(tracker.OpenLegs(), 0) << call.name.toStdString();
  }
}

TEST(CallTracker, CallsInterleavedKeepTheirOwnNumbers) {
  // Every scenario at once, event by event in turn: no call borrows another's fields.
  const AgentDirectory agents = Directory();
  const QList<AmiCall> calls = AmiCalls();
  CallTracker tracker(agents);
  QHash<QByteArray, QList<AgentEvent>> heard;
  for (qsizetype step = 0;; ++step) {
    bool any = false;
    for (const AmiCall& call : calls) {
      if (step >= call.events.size()) continue;
      any = true;
      for (const AgentEvent& e : tracker.OnEvent(call.events[step])) heard[e.callId].append(e);
    }
    if (!any) break;
  }
  for (const AmiCall& call : calls) {
    EXPECT_EQ(Describe(heard.value(call.expected.first().callId)), Describe(call.expected))
        << call.name.toStdString();
  }
}

TEST(CallTracker, OneAgentReachedThroughAChainRingsOnce) {
  // A queue member "Local/301@queue" that dials the phone "PJSIP/301": two
  // channels of the same agent in one call.
  AgentDirectory agents;
  agents.Add(QStringLiteral("agent1"), QStringLiteral("301"),
             {QStringLiteral("Local/301@queue"), QStringLiteral("PJSIP/301")});
  const AmiChannel caller{"PJSIP/trunk-00000001", "1.1", "1.1", "01012345678", "", "0707"};
  const AmiChannel member{"Local/301@queue-00000002;1", "1.2", "1.1", "0707", "", "0707"};
  const AmiChannel memberInside{"Local/301@queue-00000002;2", "1.3", "1.1", "0707", "", "301"};
  const AmiChannel phone{"PJSIP/301-00000003", "1.4", "1.1", "0707", "", "0707"};
  CallTracker tracker(agents);
  QList<AgentEvent> heard;
  for (const AmiMessage& event :
       {DialBegin(&caller, member), DialBegin(&memberInside, phone),
        DialEnd(&memberInside, phone, "ANSWER"), DialEnd(&caller, member, "ANSWER"), Hangup(phone),
        Hangup(memberInside), Hangup(member)}) {
    heard += tracker.OnEvent(event);
  }
  QList<AgentEvent::Kind> kinds;
  for (const AgentEvent& e : heard) kinds.append(e.kind);
  EXPECT_EQ(kinds, (QList<AgentEvent::Kind>{AgentEvent::Kind::Ring, AgentEvent::Kind::Answer,
                                            AgentEvent::Kind::End}))
      << Describe(heard);
}

TEST(CallTracker, LosingThePbxEndsEveryOpenLegOnce) {
  const AgentDirectory agents = Directory();
  CallTracker tracker(agents);
  const AmiCall queue = AmiCalls()[4];
  // The three agents ring, the second has answered.
  for (qsizetype i = 0; i < 4; ++i) tracker.OnEvent(queue.events[i]);
  const QList<AgentEvent> ended = tracker.EndAll();
  EXPECT_EQ(ended.size(), 3);
  for (const AgentEvent& e : ended) EXPECT_EQ(e.kind, AgentEvent::Kind::End);
  EXPECT_EQ(tracker.OpenLegs(), 0);
  EXPECT_TRUE(tracker.EndAll().isEmpty());
  // What comes after, from a PBX that was not heard meanwhile, ends nothing twice.
  for (qsizetype i = 4; i < queue.events.size(); ++i) {
    EXPECT_TRUE(tracker.OnEvent(queue.events[i]).isEmpty()) << i;
  }
}

TEST(CallTracker, EventsOfChannelsNoAgentOwnsAreIgnored) {
  const AgentDirectory agents = Directory();
  CallTracker tracker(agents);
  const AmiChannel a{"PJSIP/trunk-1", "9.1", "9.1", "010", "", "0707"};
  const AmiChannel b{"PJSIP/999-2", "9.2", "9.1", "010", "", "0707"};
  AmiMessage unknown;
  unknown.Append("Event", "QueueCallerJoin");
  unknown.Append("Uniqueid", "9.1");
  for (const AmiMessage& event : {DialBegin(&a, b), DialEnd(&a, b, "ANSWER"), BridgeEnter(b),
                                  Hangup(b), unknown, AmiMessage()}) {
    EXPECT_TRUE(tracker.OnEvent(event).isEmpty());
  }
}

}  // namespace
