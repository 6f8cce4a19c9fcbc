#include "platform/clock.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cmath>

uint32_t MillisecondsOf(int64_t seconds, int64_t nanoseconds) {
  // Halves round away from zero: 0.0005 s gives 1 ms, 0.0004 s gives 0.
  int64_t ms = static_cast<int64_t>(std::llround(static_cast<double>(nanoseconds) / 1000000.0));
  return static_cast<uint32_t>(static_cast<uint64_t>(seconds) * 1000u + static_cast<uint64_t>(ms));
}

uint32_t MillisecondClock() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return MillisecondsOf(ts.tv_sec, ts.tv_nsec);
}

void LocalDateTime(int* day, int* month, int* year, int* hour, int* minute, int* second) {
  time_t now = time(nullptr);
  tm parts{};
  localtime_r(&now, &parts);
  *day = parts.tm_mday;
  *month = parts.tm_mon + 1;
  *year = parts.tm_year + 1900;
  *hour = parts.tm_hour;
  *minute = parts.tm_min;
  *second = parts.tm_sec;
}

namespace {
std::atomic<bool> g_skip_sleeps{false};
}

void SleepMilliseconds(uint32_t ms) {
  if (g_skip_sleeps.load(std::memory_order_relaxed)) return;
  usleep(static_cast<useconds_t>(ms) * 1000u);
}

void SkipSleepsForFuzzing(bool skip) { g_skip_sleeps = skip; }
