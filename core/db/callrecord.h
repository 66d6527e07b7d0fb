#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// One call due for recording, as it waits in the spool: the values of the
// procedure call (CP949) and when the call rang.
struct CallRecord {
  int centerId = 0;
  QByteArray caller;
  QByteArray inboundTail;
  QByteArray accountExt;
  qint64 callTimeMs = 0;  // milliseconds since the epoch, UTC
  friend bool operator==(const CallRecord&, const CallRecord&) = default;
};

// Little-endian centre code and time, then each text with its length.
QByteArray EncodeCallRecord(const CallRecord& record);
// nullopt unless the bytes are exactly one encoded record.
std::optional<CallRecord> DecodeCallRecord(QByteArrayView payload);

// "DB 기록 실패: <caller> => <inbound tail>[<extension>]", the activity line of a
// call that will not reach the database.
QByteArray RecordFailureLine(const CallRecord& record);
// Whether line is such a line.
bool IsRecordFailureLine(QByteArrayView line);
