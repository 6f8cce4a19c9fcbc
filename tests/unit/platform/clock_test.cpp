#include <gtest/gtest.h>
#include <time.h>

#include "platform/clock.h"

namespace {

TEST(MillisecondsOfTest, RoundsHalvesAwayFromZeroAndWraps) {
  struct Case {
    int64_t seconds, nanoseconds;
    uint32_t expected;
  };
  const Case cases[] = {
      {0, 500000, 1},
      {0, 400000, 0},
      {0, 499999, 0},
      {12, 1500000, 12002},
      {1, 999500000, 2000},  // rounding may carry into the next second
      {4294968, 0, 4294968000u - 4294967296u},
      {1700000000, 123456789, static_cast<uint32_t>(1700000000123ull)},
  };
  for (const Case& c : cases) EXPECT_EQ(MillisecondsOf(c.seconds, c.nanoseconds), c.expected) << c.nanoseconds;
}

// Intervals must not move with the wall clock, which is stepped when the box
// learns the network time: the clock reads the monotonic one.
TEST(MillisecondClockTest, ReadsTheMonotonicClock) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint32_t before = MillisecondsOf(ts.tv_sec, ts.tv_nsec);
  const uint32_t reading = MillisecondClock();
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint32_t after = MillisecondsOf(ts.tv_sec, ts.tv_nsec);
  EXPECT_LE(reading - before, after - before);
}

TEST(LocalDateTimeTest, GivesCalendarRanges) {
  int day, month, year, hour, minute, second;
  LocalDateTime(&day, &month, &year, &hour, &minute, &second);
  EXPECT_GE(day, 1);
  EXPECT_LE(day, 31);
  EXPECT_GE(month, 1);
  EXPECT_LE(month, 12);
  EXPECT_GE(year, 2020);
  EXPECT_LE(hour, 23);
  EXPECT_LE(minute, 59);
  EXPECT_LE(second, 60);
}

}  // namespace
