#include "core/db/callrecord.h"

#include "core/outbox/payloadfields.h"
#include "core/text/cp949.h"

QByteArray EncodeCallRecord(const CallRecord& record) {
  QByteArray bytes;
  AppendLittleEndian<qint32>(bytes, record.centerId);
  AppendLittleEndian<qint64>(bytes, record.callTimeMs);
  for (const QByteArray* text : {&record.caller, &record.inboundTail, &record.accountExt}) {
    AppendText(bytes, *text);
  }
  return bytes;
}

std::optional<CallRecord> DecodeCallRecord(QByteArrayView payload) {
  PayloadReader reader(payload);
  CallRecord record;
  record.centerId = reader.Read<qint32>();
  record.callTimeMs = reader.Read<qint64>();
  record.caller = reader.ReadText();
  record.inboundTail = reader.ReadText();
  record.accountExt = reader.ReadText();
  if (!reader.AtCleanEnd()) return std::nullopt;
  return record;
}

namespace {

QByteArray RecordFailurePrefix() { return ToCp949(QStringLiteral("DB 기록 실패: ")); }

}  // namespace

bool IsRecordFailureLine(QByteArrayView line) { return line.startsWith(RecordFailurePrefix()); }

QByteArray RecordFailureLine(const CallRecord& record) {
  return RecordFailurePrefix() + record.caller + " => " + record.inboundTail + "[" +
         record.accountExt + "]";
}
