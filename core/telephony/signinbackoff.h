#pragma once

#include <functional>

// How long a control waits before signing in again after a lost link: the
// step doubles from the first to the longest, and each wait is drawn between
// half and all of its step, so that the accounts of a server that comes back
// do not all return in the same instant.
struct SignInRetrySchedule {
  int firstMs = 1000;
  int longestMs = 60000;
  // A number in [0, 1); empty draws from the system's generator.
  std::function<double()> jitter;
};

class SignInBackoff {
 public:
  explicit SignInBackoff(SignInRetrySchedule schedule = {});

  // The wait before the next attempt; each call doubles the step up to the longest.
  int NextDelayMs();
  // After a successful sign-in, the next loss starts from the first step again.
  void Reset();

 private:
  double Jitter() const;

  SignInRetrySchedule m_schedule;
  int m_nStepMs;
};
