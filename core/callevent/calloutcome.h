#pragma once

#include <QByteArray>
#include <optional>

#include "core/db/callrecord.h"
#include "core/relay/callnotice.h"

// The operator's choices the call rules read.
struct CallSettings {
  qint32 logType = 0;
  qint32 sendType = 0;
  qint32 centerId = 0;
};

// What each output does with one call event.
struct CallOutcome {
  QByteArray accountStatus;  // column 5 of the account's row; empty: unchanged
  bool stampTime = false;    // column 4 gets the event's time
  QByteArray summary;        // the activity line at the top; empty: none
  bool summaryIsRecent = false;
  std::optional<QByteArray> logLine;  // the daily log file's entry
  std::optional<CallRecord> record;
  std::optional<CallNotice> notice;
  bool noticeToEveryRow = false;  // every registered row, whatever its text
  bool trimActivityList = false;  // after every output has had the event
};
