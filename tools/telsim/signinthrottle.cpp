#include "tools/telsim/signinthrottle.h"

#include <algorithm>

namespace {

// Addresses kept before quiet ones are looked for, so that a scan of many
// addresses cannot grow the table without end.
constexpr qsizetype kPruneAbove = 4096;

}  // namespace

qint64 SignInThrottle::AnswerTime(const QHostAddress& address, qint64 nowMs) {
  const auto record = m_records.find(address);
  if (record == m_records.end()) return nowMs;
  if (nowMs - record->lastFailureMs > kForgetAfterMs) {
    m_records.erase(record);
    return nowMs;
  }
  if (record->failures < kFreeFailures) return nowMs;
  const int doublings = std::min(record->failures - kFreeFailures, 15);
  const qint64 delay = std::min(kFirstDelayMs << doublings, kMaxDelayMs);
  record->nextAnswerMs = std::max(nowMs, record->nextAnswerMs) + delay;
  return record->nextAnswerMs;
}

int SignInThrottle::NoteFailure(const QHostAddress& address, qint64 nowMs) {
  if (m_records.size() > kPruneAbove) ForgetQuiet(nowMs);
  Record& record = m_records[address];
  if (nowMs - record.lastFailureMs > kForgetAfterMs) record.failures = 0;
  record.lastFailureMs = nowMs;
  return ++record.failures;
}

void SignInThrottle::NoteSuccess(const QHostAddress& address) { m_records.remove(address); }

bool SignInThrottle::WorthALine(int failures) {
  return failures <= kFreeFailures || (failures & (failures - 1)) == 0;
}

void SignInThrottle::ForgetQuiet(qint64 nowMs) {
  m_records.removeIf(
      [nowMs](const auto& entry) { return nowMs - entry.value().lastFailureMs > kForgetAfterMs; });
}
