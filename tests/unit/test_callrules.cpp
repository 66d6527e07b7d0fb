#include <gtest/gtest.h>

#include "core/callevent/callrules.h"
#include "core/telephony/calleventreader.h"
#include "core/text/cp949.h"

namespace {

QByteArray K(const char* utf8) { return ToCp949(QString::fromUtf8(utf8)); }

const QDateTime kTime(QDate(2026, 3, 4), QTime(9, 8, 7));
constexpr qint32 kExtension = 301;

// The telephony texts of one call's ring and pick-up; every one carries the
// inbound number 07012345678.
enum class Caller { Long, Short, Dialled };

QByteArray CallerNumber(Caller caller) {
  return caller == Caller::Short ? "12345678" : "0212345678";
}

std::optional<CallEvent> Read(CallEventKind kind, Caller caller) {
  const QByteArray number = CallerNumber(caller);
  switch (kind) {
    case CallEventKind::Ring:
      return ReadRing(2, kExtension,
                      "ISDIAL:" + QByteArray(caller == Caller::Dialled ? "1" : "0") +
                          "|CALLERID:" + number + "|INEXTEN:07012345678|UNIQUEID:17.5|",
                      kTime);
    case CallEventKind::Answer:
      return ReadAnswer(2, kExtension,
                        "CHANNEL1:SIP/" + QByteArray(caller == Caller::Dialled ? "301" : "777") +
                            "-00a1|CALLER1ID:" + number + "|INEXTEN:07012345678|",
                        kTime);
    case CallEventKind::End:
      return ReadCallEnd(2, kExtension, kTime);
  }
  return std::nullopt;
}

// What each send type lets through, for a caller long enough to relay.
struct SendTypeRow {
  qint32 sendType;
  bool ringLogged, ringRecorded, ringRelayed, answerRelayed, answerLogged;
};
const SendTypeRow kSendTypes[] = {
    {0, true, false, true, false, false},
    {1, false, false, false, true, true},
    {2, true, true, true, true, true},
    {5, true, false, false, false, true},  // only an edited store holds this
};

TEST(CallRules, EverySendTypeLogTypeCentreCodeEventAndCaller) {
  for (const SendTypeRow& row : kSendTypes) {
    for (const qint32 logType : {0, 1, 2}) {
      for (const qint32 centerId : {0, 5}) {
        for (const CallEventKind kind :
             {CallEventKind::Ring, CallEventKind::Answer, CallEventKind::End}) {
          for (const Caller caller : {Caller::Long, Caller::Short, Caller::Dialled}) {
            SCOPED_TRACE(testing::Message()
                         << "send " << row.sendType << " log " << logType << " centre " << centerId
                         << " kind " << int(kind) << " caller " << int(caller));
            const std::optional<CallEvent> event = Read(kind, caller);
            const bool ring = kind == CallEventKind::Ring;
            const bool answer = kind == CallEventKind::Answer;
            if (ring && caller == Caller::Dialled) {
              EXPECT_FALSE(event);  // nothing at all, not even the row
              continue;
            }
            ASSERT_TRUE(event);
            const CallOutcome outcome =
                DecideCallOutcome(*event, CallSettings{logType, row.sendType, centerId});
            const bool dialled = answer && caller == Caller::Dialled;
            const bool relayable = caller == Caller::Long;

            const QByteArray status = ring      ? QByteArray("Ring")
                                      : dialled ? K("발신통화")
                                      : answer  ? K("통화")
                                                : K("통화종료");
            EXPECT_EQ(outcome.accountStatus, status);
            EXPECT_EQ(outcome.stampTime, !dialled);

            const QByteArray summary = kind == CallEventKind::End || dialled
                                           ? QByteArray()
                                           : "09:08:07 " + QByteArray(ring ? "Ring" : "HangUp") +
                                                 ": " + CallerNumber(caller) +
                                                 " => 07012345678[301]";
            EXPECT_EQ(outcome.summary, summary);
            EXPECT_EQ(outcome.summaryIsRecent, ring);
            EXPECT_EQ(outcome.trimActivityList, answer && !dialled);

            const bool logged =
                (ring && row.ringLogged) || (answer && !dialled && row.answerLogged);
            std::optional<QByteArray> logLine;
            if (logged && logType == 0) logLine = summary;
            if (logged && logType == 1) logLine = event->text;
            EXPECT_EQ(outcome.logLine, logLine);

            if (ring && relayable && row.ringRecorded && centerId > 0) {
              EXPECT_EQ(outcome.record, (CallRecord{centerId, "0212345678", "5678", "301",
                                                    kTime.toMSecsSinceEpoch()}));
            } else {
              EXPECT_FALSE(outcome.record);
            }

            const bool relayed = relayable && ((ring && row.ringRelayed) ||
                                               (answer && !dialled && row.answerRelayed));
            ASSERT_EQ(outcome.notice.has_value(), relayed);
            EXPECT_EQ(outcome.noticeToEveryRow, relayed && ring && row.sendType == 2);
            if (relayed) {
              EXPECT_EQ(EncodeCallNotice(*outcome.notice),
                        EncodeCallNotice(MakeCallNotice(301, 5678, "0212345678", ring ? 0 : 1)));
            }
          }
        }
      }
    }
  }
}

// What the telephony texts hold, read into the event and on into the notice
// and the record.
TEST(CallRules, EventValuesReachNoticeAndRecord) {
  const struct {
    const char* name;
    QByteArray text;
    QByteArray caller;
    QByteArray tail;  // the record's inbound tail; the notice's inExten parses it
    qint32 inExten;
  } cases[] = {
      {"eleven-digit inbound", "CALLERID:0212345678|INEXTEN:07012345678|", "0212345678", "5678",
       5678},
      {"short inbound used whole", "CALLERID:0212345678|INEXTEN:42|", "0212345678", "42", 42},
      {"inbound without digits", "CALLERID:0212345678|INEXTEN:x9y|", "0212345678", "x9y", 0},
      {"other dial mark", "ISDIAL:11|CALLERID:0212345678|INEXTEN:1|", "0212345678", "1", 1},
      {"empty dial mark", "ISDIAL:|CALLERID:0212345678|INEXTEN:1|", "0212345678", "1", 1},
      {"exactly nine digits", "CALLERID:123456789|INEXTEN:1|", "123456789", "1", 1},
      {"caller cut to 11 in the notice", "CALLERID:021234567890123|INEXTEN:1|", "021234567890123",
       "1", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<CallEvent> event = ReadRing(6, 999, c.text, kTime);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->caller, c.caller);
    const CallOutcome outcome = DecideCallOutcome(*event, CallSettings{0, 2, 7});
    ASSERT_TRUE(outcome.record);
    EXPECT_EQ(outcome.record->caller, c.caller);
    EXPECT_EQ(outcome.record->inboundTail, c.tail);
    EXPECT_EQ(outcome.record->accountExt, "999");  // the slot that rang
    ASSERT_TRUE(outcome.notice);
    EXPECT_EQ(outcome.notice->inExten, c.inExten);
    EXPECT_EQ(outcome.notice->accountExt, 999);
    EXPECT_EQ(CallerIdText(*outcome.notice), c.caller.left(11));
  }
}

TEST(CallRules, TextsWithoutTheFieldsGiveNothingToRelay) {
  const struct {
    const char* name;
    QByteArray text;
  } cases[] = {
      {"empty", ""},
      {"last field without its bar", "INEXTEN:07012345678|CALLERID:0212345678"},
      {"key alone", "CALLERID"},
      {"separators only", "|||:::---"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<CallEvent> ring = ReadRing(0, 301, c.text, kTime);
    ASSERT_TRUE(ring);
    EXPECT_TRUE(ring->caller.isEmpty());
    EXPECT_FALSE(DecideCallOutcome(*ring, CallSettings{0, 2, 5}).notice);
  }
  // No channel and no extension yet: the empty peer reads as 0, the account's own line.
  EXPECT_TRUE(ReadAnswer(9, 0, "CALLER1ID:0212345678|INEXTEN:1234|", kTime).dialled);
  EXPECT_TRUE(ReadAnswer(0, 301, "CHANNEL1:SIP/4301-00a1|", kTime).dialled);
  EXPECT_EQ(ReadRing(0, 301, "UNIQUEID:1733.42|CALLERID:1|", kTime)->callId, "1733.42");
}

}  // namespace
