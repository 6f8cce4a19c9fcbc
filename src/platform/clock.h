// The millisecond clock every time-out is measured on, and the local date split.
#pragma once

#include <cstdint>

// CLOCK_MONOTONIC seconds x 1000 plus rounded milliseconds, wrapping in 32 bits.
// Intervals are measured on it, never on the wall clock: a box without a
// real-time clock has its time stepped when the network time arrives.
uint32_t MillisecondClock();

// Milliseconds of a given time (the clock's rounding rule, for tests).
uint32_t MillisecondsOf(int64_t seconds, int64_t nanoseconds);

// The wall clock's local date and time (for the camera's clock).
void LocalDateTime(int* day, int* month, int* year, int* hour, int* minute, int* second);

// Every sleep of the daemon goes through here (never usleep/sleep directly),
// so that fuzz targets can run timed sequences without waiting.
void SleepMilliseconds(uint32_t ms);
void SkipSleepsForFuzzing(bool skip);
