#include "core/db/callrecordspool.h"

CallRecordSpool::CallRecordSpool(QString directory, Limits limits)
    : Outbox(std::move(directory), QStringLiteral("callrecords"), limits,
             [](QByteArrayView payload) { return DecodeCallRecord(payload).has_value(); }) {}

CallRecordSpool::AppendResult CallRecordSpool::Append(const CallRecord& record) {
  return Outbox::Append(EncodeCallRecord(record));
}

std::optional<CallRecordSpool::WaitingRecord> CallRecordSpool::WaitForFirst(std::stop_token stop) {
  const std::optional<Outbox::WaitingRecord> first = Outbox::WaitForFirst(std::move(stop));
  if (!first) return std::nullopt;
  // Checked when appended or recovered.
  return WaitingRecord{first->sequence, *DecodeCallRecord(first->payload)};
}
