// The brakes on guessing the control PIN, step by step on a clock the test
// sets: each wrong PIN doubles an address's wait, no address tries more than
// five times a minute, all together not more than thirty, a right PIN ends
// the waiting; and sessions that lapse or are closed.
#include <gtest/gtest.h>

#include <string>

#include "../../../tools/vb-web/control_sessions.h"

namespace {

enum class Outcome { kWrong, kRight };

struct Step {
  int64_t at_ms;
  uint32_t address;
  bool allowed;     // MayTry's answer
  int wait_s;       // when refused
  Outcome outcome;  // when allowed
};

constexpr uint32_t kA = 0x0100007f, kB = 0x0200007f;

const Step kSteps[] = {
    {0, kA, true, 0, Outcome::kWrong},        // waits 1 s
    {500, kA, false, 1, Outcome::kWrong},
    {500, kB, true, 0, Outcome::kWrong},      // another address is not held up
    {1000, kA, true, 0, Outcome::kWrong},     // waits 2 s
    {2500, kA, false, 1, Outcome::kWrong},
    {3000, kA, true, 0, Outcome::kWrong},     // waits 4 s
    {7000, kA, true, 0, Outcome::kWrong},     // waits 8 s
    {15000, kA, true, 0, Outcome::kRight},    // the fifth try this minute; the waiting ends
    {15100, kA, false, 45, Outcome::kWrong},  // but no sixth before the minute is over
    {60000, kA, true, 0, Outcome::kWrong},    // a new minute, the waiting starts again at 1 s
    {60500, kA, false, 1, Outcome::kWrong},
};

TEST(ControlSessions, WrongPinsAreSlowedAndCounted) {
  ControlSessions sessions;
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.at_ms);
    int wait_s = 0;
    ASSERT_EQ(sessions.MayTry(step.address, step.at_ms, &wait_s), step.allowed);
    if (!step.allowed) {
      EXPECT_EQ(wait_s, step.wait_s);
    } else if (step.outcome == Outcome::kWrong) {
      sessions.TriedWrong(step.address, step.at_ms);
    } else {
      sessions.TriedRight(step.address);
    }
  }
}

TEST(ControlSessions, AllAddressesTogetherTryThirtyTimesAMinute) {
  ControlSessions sessions;
  int wait_s = 0;
  for (uint32_t a = 1; a <= kAllTriesPerMinute; ++a) ASSERT_TRUE(sessions.MayTry(a, 1000, &wait_s)) << a;
  EXPECT_FALSE(sessions.MayTry(kAllTriesPerMinute + 1, 2000, &wait_s));
  EXPECT_EQ(wait_s, 59);
  EXPECT_TRUE(sessions.MayTry(kAllTriesPerMinute + 1, 61000, &wait_s));
}

TEST(ControlSessions, SessionsLapseAndClose) {
  ControlSessions sessions;
  const std::string first = sessions.Open(0);
  const std::string second = sessions.Open(0);
  ASSERT_EQ(first.size(), 64u);
  EXPECT_NE(first, second);
  EXPECT_FALSE(sessions.Valid(first.substr(0, 63) + "x", 1));
  EXPECT_FALSE(sessions.Valid("", 1));
  EXPECT_TRUE(sessions.Valid(first, kSessionIdleMs));  // use keeps it open
  EXPECT_TRUE(sessions.Valid(first, 2 * kSessionIdleMs));
  EXPECT_FALSE(sessions.Valid(second, 2 * kSessionIdleMs));  // unused for too long
  const std::string third = sessions.Open(2 * kSessionIdleMs);
  sessions.CloseAllBut(third);
  EXPECT_FALSE(sessions.Valid(first, 2 * kSessionIdleMs));
  EXPECT_TRUE(sessions.Valid(third, 2 * kSessionIdleMs));
  sessions.Close(third);
  EXPECT_FALSE(sessions.Valid(third, 2 * kSessionIdleMs));
}

}  // namespace
