#pragma once

#include "core/db/callrecord.h"
#include "core/outbox/outbox.h"

// The outbox between a ringing call and the database writer: call records
// in callrecords.spool and callrecords.ack of the state directory.
class CallRecordSpool : public Outbox {
 public:
  struct WaitingRecord {
    quint64 sequence = 0;
    CallRecord record;
  };

  CallRecordSpool(QString directory, Limits limits);
  explicit CallRecordSpool(QString directory) : CallRecordSpool(std::move(directory), Limits{}) {}

  AppendResult Append(const CallRecord& record);
  std::optional<WaitingRecord> WaitForFirst(std::stop_token stop);
};
