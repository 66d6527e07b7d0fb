// The PBX bridge on any bytes from the manager interface: the block parser
// however the stream is cut into reads, then the call tracker and the event
// texts on whatever messages came out.
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QList>
#include <string>

#include "core/text/eventtext.h"
#include "support/fuzzcheck.h"
#include "tools/amibridge/agentdirectory.h"
#include "tools/amibridge/amiparser.h"
#include "tools/amibridge/calltracker.h"
#include "tools/amibridge/eventtexts.h"

namespace {

const AgentDirectory& Agents() {
  static const AgentDirectory agents = [] {
    AgentDirectory directory;
    directory.Add(QStringLiteral("agent1"), QStringLiteral("07012345301"),
                  {QStringLiteral("Local/301@agents"), QStringLiteral("PJSIP/301")});
    directory.Add(QStringLiteral("agent2"), QStringLiteral("302"), {QStringLiteral("PJSIP/3*")});
    return directory;
  }();
  return agents;
}

// What a PBX value can do to a text, the relay must not read as one of its fields.
void CheckText(const AgentEvent& event) {
  const AgentDirectory::Agent* agent = Agents().Find(event.accountId);
  FUZZ_CHECK(agent != nullptr);
  const auto [name, text] = AgentEventText(event, agent->number);
  const QByteArray bytes = text.toUtf8();
  switch (event.kind) {
    case AgentEvent::Kind::Ring:
      FUZZ_CHECK(name == QStringLiteral("Ring"));
      FUZZ_CHECK(GetEventField(bytes, "ISDIAL", 1, '|') == (event.outgoing ? "1" : "0"));
      FUZZ_CHECK(!GetEventField(bytes, "CALLERID", 1, '|').contains('|'));
      break;
    case AgentEvent::Kind::Answer: {
      FUZZ_CHECK(name == QStringLiteral("HangUp"));
      // Only a call the agent placed reads as the agent's own channel.
      const QByteArray peer = GetEventField(bytes, "CHANNEL1:SIP/", 0, '-');
      const bool own = ParseLooseInt(LastBytes(peer, 3)) == ParseLooseInt(LastBytes("301", 3));
      FUZZ_CHECK(!(event.accountId == QStringLiteral("agent1") && !event.outgoing && own));
      break;
    }
    case AgentEvent::Kind::End:
      FUZZ_CHECK(name == QStringLiteral("CallEnd"));
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // Small bounds reach the dropping of big blocks with short inputs.
  const qsizetype maxBlockBytes =
      input.ConsumeBool() ? kAmiMaxBlockBytes : input.ConsumeIntegralInRange<int>(1, 256);
  const int cuts = input.ConsumeIntegralInRange<int>(0, 8);
  QList<size_t> cutSizes;
  for (int i = 0; i < cuts; ++i) cutSizes.append(input.ConsumeIntegralInRange<size_t>(0, 64));
  const std::string rest = input.ConsumeRemainingBytesAsString();
  const QByteArray stream(rest.data(), qsizetype(rest.size()));

  AmiParser whole(maxBlockBytes);
  const QList<AmiMessage> messages = whole.Feed(stream);
  AmiParser pieces(maxBlockBytes);
  QList<AmiMessage> pieceMessages;
  QByteArrayView left(stream);
  for (size_t cut : cutSizes) {
    const qsizetype n = qMin<qsizetype>(qsizetype(cut), left.size());
    pieceMessages += pieces.Feed(left.first(n));
    left = left.sliced(n);
  }
  pieceMessages += pieces.Feed(left);
  FUZZ_CHECK(pieceMessages == messages);
  FUZZ_CHECK(pieces.TakeDroppedBlocks() == whole.TakeDroppedBlocks());

  for (const AmiMessage& message : messages) {
    FUZZ_CHECK(!message.IsEmpty());
    qsizetype bytes = 0;
    for (const auto& [key, value] : message.Headers()) {
      FUZZ_CHECK(!key.isEmpty() && !key.contains('\n') && !value.contains('\n'));
      bytes += key.size() + value.size();
    }
    FUZZ_CHECK(bytes <= maxBlockBytes);
    // A message written out reads back the same once its line ends are flattened.
    AmiParser again;
    const QList<AmiMessage> reread = again.Feed("greeting\r\n" + message.Encode());
    FUZZ_CHECK(reread.size() == 1 && reread.first().Headers().size() == message.Headers().size());
  }

  CallTracker tracker(Agents());
  for (const AmiMessage& message : messages) {
    for (const AgentEvent& event : tracker.OnEvent(message)) CheckText(event);
  }
  for (const AgentEvent& event : tracker.EndAll()) {
    FUZZ_CHECK(event.kind == AgentEvent::Kind::End);
    CheckText(event);
  }
  FUZZ_CHECK(tracker.OpenLegs() == 0);
  return 0;
}
