#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "core/telephony/signinbackoff.h"

namespace {

std::vector<int> Delays(SignInBackoff& backoff, int count) {
  std::vector<int> delays;
  for (int i = 0; i < count; ++i) {
    delays.push_back(backoff.NextDelayMs());
  }
  return delays;
}

TEST(SignInBackoffTest, StepsDoubleToTheLongestAndJitterStaysWithinTheStep) {
  struct Case {
    const char* what;
    SignInRetrySchedule schedule;
    std::vector<int> delays;
  };
  const Case cases[] = {
      {"least jitter: half of each step",
       {1000, 60000, [] { return 0.0; }},
       {500, 1000, 2000, 4000, 8000, 16000, 30000, 30000}},
      {"most jitter: the whole step",
       {1000, 60000, [] { return 0.999999; }},
       {999, 1999, 3999, 7999, 15999, 31999, 59999, 59999}},
      {"a source out of range is held to the step",
       {1000, 60000, [] { return 7.0; }},
       {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000}},
      {"a broken source waits half the step",
       {100, 400, [] { return std::numeric_limits<double>::quiet_NaN(); }},
       {50, 100, 200, 200}},
      {"longest not a power of two from the first",
       {300, 1000, [] { return 0.0; }},
       {150, 300, 500, 500}},
      {"a first step of zero still waits", {0, 0, [] { return 0.0; }}, {1, 1, 1}},
      {"longest below the first is the first", {500, 100, [] { return 0.0; }}, {250, 250}},
  };
  for (const Case& c : cases) {
    SignInBackoff backoff(c.schedule);
    EXPECT_EQ(Delays(backoff, int(c.delays.size())), c.delays) << c.what;
  }
}

TEST(SignInBackoffTest, ManyFailuresNeverOverflowTheWait) {
  SignInBackoff backoff({1000, std::numeric_limits<int>::max(), [] { return 0.999999; }});
  int previous = 0;
  for (int i = 0; i < 100; ++i) {
    const int delay = backoff.NextDelayMs();
    ASSERT_GE(delay, previous) << i;
    previous = delay;
  }
  EXPECT_GT(previous, std::numeric_limits<int>::max() / 2);
}

TEST(SignInBackoffTest, ResetStartsFromTheFirstStepAgain) {
  SignInBackoff backoff({1000, 60000, [] { return 0.0; }});
  Delays(backoff, 10);
  backoff.Reset();
  EXPECT_EQ(Delays(backoff, 2), (std::vector<int>{500, 1000}));
}

TEST(SignInBackoffTest, DefaultScheduleWaitsBetweenHalfAndAllOfASecondFirst) {
  SignInBackoff backoff;
  for (int i = 0; i < 50; ++i) {
    const int delay = backoff.NextDelayMs();
    EXPECT_GE(delay, 500);
    EXPECT_LE(delay, 1000);
    backoff.Reset();
  }
  const std::vector<int> later = Delays(backoff, 12);
  EXPECT_GE(later.back(), 30000);
  EXPECT_LE(later.back(), 60000);
}

}  // namespace
