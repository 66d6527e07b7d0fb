#pragma once

#include "core/db/callrecord.h"
#include "core/outbox/outbox.h"

// The outbox between a ringing call and the database writer: call records
// in callrecords.spool and callrecords.ack of the state directory. Only
// call records go in, so that every record taken decodes.
class CallRecordSpool : private Outbox {
 public:
  struct WaitingRecord {
    quint64 sequence = 0;
    CallRecord record;
  };
  using Outbox::AppendResult;
  using Outbox::Clock;
  using Outbox::FileChange;
  using Outbox::Limits;

  CallRecordSpool(QString directory, Limits limits);
  explicit CallRecordSpool(QString directory) : CallRecordSpool(std::move(directory), Limits{}) {}

  AppendResult Append(const CallRecord& record);
  std::optional<WaitingRecord> WaitForFirst(std::stop_token stop);

  using Outbox::Acknowledge;
  using Outbox::AcknowledgementPath;
  using Outbox::DiskError;
  using Outbox::ErrorString;
  using Outbox::HeldElsewhere;
  using Outbox::HeldInMemory;
  using Outbox::OldestWaitingSince;
  using Outbox::Open;
  using Outbox::SpoolPath;
  using Outbox::Sync;
  using Outbox::SyncInBackground;
  using Outbox::TakeFileChange;
  using Outbox::TakeUnreadable;
  using Outbox::Waiting;
};
