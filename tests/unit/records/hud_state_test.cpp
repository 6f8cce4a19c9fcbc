// The record's consistency rule, as another process reads it: copies taken
// while the camera receive thread and the other writers update the record are
// either whole or known to be torn.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "records/hud_state.h"
#include "records/reset.h"
#include "writable_records.h"

namespace {

// What belongs together in a whole copy: the three axes the writer gave the
// same angle, the focus point's equal coordinates, one of the texts written
// (or none yet).
bool Whole(const HudState& s, const std::string& long_text) {
  const bool attitude = s.pan_rad == s.tilt_rad && s.tilt_rad == s.dutch_rad && s.pan_sin == s.dutch_sin &&
                        s.pan_cos == s.tilt_cos && std::strcmp(s.pan_text, s.tilt_text) == 0 &&
                        std::strcmp(s.tilt_text, s.dutch_text) == 0 && s.attitude_updating == 0;
  const std::string text(s.telemetry_text, strnlen(s.telemetry_text, sizeof s.telemetry_text));
  return attitude && s.focus_point_x == s.focus_point_y && (text.empty() || text == "short" || text == long_text);
}

TEST(HudConsistency, CopiesTakenDuringUpdatesAreWholeWhenTheCountersAgree) {
  ResetRecords();
  const std::string long_text(100, 'x');
  constexpr int kUpdates = 4000;
  std::atomic<int> writers_done{0};
  std::thread camera([&] {
    for (int i = 0; i < kUpdates; ++i) StoreHudAttitude(i % 360, i % 360, i % 360, 0);
    ++writers_done;
  });
  std::thread other([&] {
    for (int i = 0; i < kUpdates; ++i) {
      StoreHudFocusPoint(i / double{kUpdates}, i / double{kUpdates});
      StoreHudTelemetryText(i % 2 ? "short" : long_text.c_str());
    }
    ++writers_done;
  });
  int whole = 0;
  int torn = 0;
  HudState copy;
  bool all_whole = true;
  while (writers_done.load() < 2 && all_whole) {
    if (!TakeConsistentHudCopy(GetHudState(), &copy)) {
      ++torn;
      continue;
    }
    ++whole;
    all_whole = Whole(copy, long_text);
  }
  camera.join();
  other.join();
  EXPECT_TRUE(all_whole) << "pan " << copy.pan_text << " tilt " << copy.tilt_text << " point " << copy.focus_point_x
                         << "," << copy.focus_point_y;
  ASSERT_TRUE(TakeConsistentHudCopy(GetHudState(), &copy));
  EXPECT_TRUE(Whole(copy, long_text));
  EXPECT_STREQ(copy.pan_text, "39");  // 3999 % 360
  EXPECT_EQ(copy.camera_updates_done, static_cast<uint32_t>(kUpdates));
  EXPECT_EQ(copy.other_updates_done, static_cast<uint32_t>(2 * kUpdates));
  RecordProperty("whole", whole);
  RecordProperty("torn", torn);
}

}  // namespace
