#include <gtest/gtest.h>

#include "core/stream/eventmessage.h"
#include "core/stream/eventrecord.h"
#include "core/text/cp949.h"

namespace {

// offsetSeconds empty: local time, as the telephony side reads it.
CallEvent Event(CallEventKind kind, QByteArray caller, bool dialled,
                std::optional<int> offsetSeconds) {
  CallEvent event;
  event.kind = kind;
  event.slot = 59;
  event.extension = 2147483647;
  event.caller = std::move(caller);
  event.inbound = "301";
  event.callId = "1765183200.42";
  event.dialled = dialled;
  event.time = offsetSeconds ? QDateTime::fromMSecsSinceEpoch(1765183215123, Qt::OffsetFromUTC,
                                                              *offsetSeconds)
                             : QDateTime::fromMSecsSinceEpoch(1765183215123, Qt::LocalTime);
  return event;
}

// The publisher makes from the record exactly the message the event makes,
// whatever the fields hold, and refuses a record cut short or overlong.
TEST(EventRecord, MakesTheEventsOwnMessageAndRefusesAnyOtherLength) {
  const QString relay = QStringLiteral("pbx-a.site");
  const CallEvent events[] = {
      Event(CallEventKind::Ring, "01012345678", false, 9 * 3600),
      Event(CallEventKind::Answer, ToCp949(QStringLiteral("홍길동")), true, -(3 * 3600 + 1800)),
      Event(CallEventKind::End, QByteArray("0\n1\0\"", 5), false, 0),
      Event(CallEventKind::Ring, {}, false, std::nullopt),
  };
  for (const CallEvent& event : events) {
    const QByteArray record = EncodeEventRecord(event);
    const EventMessage expected = EventMessage::Of(event, relay);
    const std::optional<EventMessage> made = EventMessage::FromRecord(record, relay);
    ASSERT_TRUE(made && EventMessage::IsRecord(record)) << expected.body.constData();
    EXPECT_EQ(made->routingKey, expected.routingKey);
    EXPECT_EQ(made->body, expected.body);
    for (qsizetype cut = 0; cut < record.size(); ++cut) {
      EXPECT_FALSE(DecodeEventRecord(record.first(cut))) << cut;
    }
    EXPECT_FALSE(DecodeEventRecord(record + '\0'));
  }
  // What an earlier relay queued is published as it was.
  const std::optional<EventMessage> queued =
      EventMessage::FromRecord("pbx-a.301.ring\n{\"type\":\"call\"}", relay);
  ASSERT_TRUE(queued);
  EXPECT_EQ(queued->routingKey, "pbx-a.301.ring");
  EXPECT_EQ(queued->body, "{\"type\":\"call\"}");
}

}  // namespace
