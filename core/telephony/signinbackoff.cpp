#include "core/telephony/signinbackoff.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cmath>

SignInBackoff::SignInBackoff(SignInRetrySchedule schedule) : m_schedule(std::move(schedule)) {
  m_schedule.firstMs = std::max(m_schedule.firstMs, 1);
  m_schedule.longestMs = std::max(m_schedule.longestMs, m_schedule.firstMs);
  m_nStepMs = m_schedule.firstMs;
}

int SignInBackoff::NextDelayMs() {
  const int step = m_nStepMs;
  m_nStepMs = step > m_schedule.longestMs / 2 ? m_schedule.longestMs : step * 2;
  const int half = step / 2;
  return std::max(1, half + int(Jitter() * (step - half)));
}

void SignInBackoff::Reset() { m_nStepMs = m_schedule.firstMs; }

double SignInBackoff::Jitter() const {
  const double drawn =
      m_schedule.jitter ? m_schedule.jitter() : QRandomGenerator::global()->generateDouble();
  // A broken source must not stretch the wait past its step, or stall it.
  return std::isfinite(drawn) ? std::clamp(drawn, 0.0, 1.0) : 0.0;
}
