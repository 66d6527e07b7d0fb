#include "core/callevent/callrules.h"

#include "core/config/settingtypes.h"
#include "core/log/logline.h"
#include "core/text/cp949.h"
#include "core/text/eventtext.h"

namespace {

// Shorter callers (internal numbers) are shown but neither recorded nor relayed.
constexpr qsizetype kMaxLocalCallerLength = 8;
constexpr qsizetype kInboundTailLength = 4;

// "%s <kind>: %s => %s[%d]"; event values already end at their NUL.
QByteArray SummaryLine(const CallEvent& event, const char* kind) {
  return ClockText(event.time.time()) + ' ' + kind + ": " + event.caller + " => " + event.inbound +
         '[' + QByteArray::number(event.extension) + ']';
}

// What the daily log gets at the given log type: the summary, the whole
// event text, or nothing.
std::optional<QByteArray> LogLine(qint32 logType, const QByteArray& summary,
                                  const CallEvent& event) {
  switch (logType) {
    case kLogNumber:
      return summary;
    case kLogDebug:
      return event.text;
    default:
      return std::nullopt;
  }
}

CallNotice Notice(const CallEvent& event, qint32 state) {
  return MakeCallNotice(event.extension,
                        ParseLooseInt(LastBytes(event.inbound, kInboundTailLength)), event.caller,
                        state);
}

CallOutcome RingOutcome(const CallEvent& event, const CallSettings& settings) {
  CallOutcome outcome;
  outcome.accountStatus = "Ring";
  outcome.stampTime = true;
  outcome.summary = SummaryLine(event, "Ring");
  outcome.summaryIsRecent = true;
  if (settings.sendType != kSendWhenAnswered) {
    outcome.logLine = LogLine(settings.logType, outcome.summary, event);
  }
  if (event.caller.size() <= kMaxLocalCallerLength) return outcome;
  if (settings.centerId > 0 && settings.sendType == kSendAlways) {
    outcome.record =
        CallRecord{settings.centerId, event.caller, LastBytes(event.inbound, kInboundTailLength),
                   QByteArray::number(event.extension), event.time.toMSecsSinceEpoch()};
  }
  if (settings.sendType == kSendWhenRinging || settings.sendType == kSendAlways) {
    outcome.notice = Notice(event, kCallStateRinging);
    outcome.noticeToEveryRow = settings.sendType == kSendAlways;
  }
  return outcome;
}

CallOutcome AnswerOutcome(const CallEvent& event, const CallSettings& settings) {
  CallOutcome outcome;
  if (event.dialled) {
    // Only the row says so; the time column keeps the ring's time.
    static const QByteArray dialled = ToCp949(QStringLiteral("발신통화"));
    outcome.accountStatus = dialled;
    return outcome;
  }
  static const QByteArray inCall = ToCp949(QStringLiteral("통화"));
  outcome.accountStatus = inCall;
  outcome.stampTime = true;
  outcome.summary = SummaryLine(event, "HangUp");
  if (event.caller.size() > kMaxLocalCallerLength &&
      (settings.sendType == kSendWhenAnswered || settings.sendType == kSendAlways)) {
    outcome.notice = Notice(event, kCallStateAnswer);
  }
  if (settings.sendType != kSendWhenRinging) {
    outcome.logLine = LogLine(settings.logType, outcome.summary, event);
  }
  outcome.trimActivityList = true;
  return outcome;
}

}  // namespace

CallOutcome DecideCallOutcome(const CallEvent& event, const CallSettings& settings) {
  switch (event.kind) {
    case CallEventKind::Ring:
      return RingOutcome(event, settings);
    case CallEventKind::Answer:
      return AnswerOutcome(event, settings);
    case CallEventKind::End:
      break;
  }
  CallOutcome outcome;
  // Converted once: a conversion per event showed in profiles.
  static const QByteArray ended = ToCp949(QStringLiteral("통화종료"));
  outcome.accountStatus = ended;
  outcome.stampTime = true;
  return outcome;
}
