#include "operations/playback.h"

#include <cstring>

#include "common/shared_field.h"
#include "platform/clock.h"
#include "records/hud_state.h"
#include "senders/camera_frames.h"

namespace {

constexpr KeyFrames Pair(StoredFrame first, StoredFrame second) { return KeyFrames{first, second}; }

constexpr KeyFrames kIdle = Pair(Stored(kKeyIdleCamera), Stored(kKeyIdleGimbal));
constexpr KeyFrames kCancel = Pair(Stored(kCancelCamera), Stored(kCancelGimbal));
constexpr KeyFrames kBack = Pair(Stored(kBackCamera), Stored(kBackGimbal));
constexpr KeyFrames kSelectMode = Pair(Stored(kSelectModeCamera), Stored(kSelectModeGimbal));
constexpr KeyFrames kKey0F = Pair(Stored(kKey0FCamera), Stored(kKey0FGimbal));
constexpr KeyFrames kPlay = Pair(Stored(kPlayCamera), Stored(kPlayGimbal));
// The play key of the "play" command goes to the camera in both frames of a round.
constexpr KeyFrames kPlayCameraOnly = Pair(Stored(kPlayCamera), Stored(kPlayCamera));

// The commands that are one press of three rounds and one release of three.
struct SimpleKey {
  const char* text;
  KeyFrames key;
};
constexpr SimpleKey kSimpleKeys[] = {
    {"enter", Pair(Stored(kEnterCamera), Stored(kEnterGimbal))},
    {"exit", Pair(Stored(kExitCamera), Stored(kExitGimbal))},
    {"list", Pair(Stored(kListCamera), Stored(kListGimbal))},
    {"next", Pair(Stored(kNextCamera), Stored(kNextGimbal))},
    {"prev", Pair(Stored(kPrevCamera), Stored(kPrevGimbal))},
    {"selectmode", kSelectMode},
    {"selectall", Pair(Stored(kSelectAllCamera), Stored(kSelectAllGimbal))},
    {"deselectall", Pair(Stored(kDeselectAllCamera), Stored(kDeselectAllGimbal))},
    {"play", kPlayCameraOnly},
};

constexpr uint8_t kInPlayback = 4;
constexpr uint32_t kRoundGapMs = 10;
constexpr uint32_t kPressReleaseGapMs = 100;
constexpr uint32_t kMenuSettleMs = 2500;
constexpr uint32_t kConfirmSettleMs = 1200;

void PressAndRelease(const KeyFrames& key, int rounds) {
  KeyBurst(key, rounds);
  SleepMilliseconds(kPressReleaseGapMs);
  KeyBurst(kIdle, rounds);
}

uint8_t PlaybackState() { return LoadShared(&GetHudState()->playback_state); }

void GoBack() {
  PressAndRelease(kBack, 5);
  SleepMilliseconds(kMenuSettleMs);
  KeyBurst(kKey0F, 5);
  SleepMilliseconds(kConfirmSettleMs);
  KeyBurst(kIdle, 5);
}

// Deleting needs the camera in its select mode; the state is read once before
// and once after the select-mode keys, never waited for.
void DeleteSelection() {
  if (PlaybackState() != kInPlayback) {
    PressAndRelease(kSelectMode, 3);
    if (PlaybackState() != kInPlayback) return;
  }
  PressAndRelease(kKey0F, 5);
  SleepMilliseconds(kMenuSettleMs);
  KeyBurst(kPlay, 5);
  SleepMilliseconds(kConfirmSettleMs);
  KeyBurst(kIdle, 5);
}

}  // namespace

void KeyBurst(const KeyFrames& key, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    SendStoredFrame(key.first);
    SleepMilliseconds(kRoundGapMs);
    SendStoredFrame(key.second);
    SleepMilliseconds(kRoundGapMs);
  }
}

void NavigatePlayback(const char* text) {
  if (text == nullptr) return;
  for (const SimpleKey& row : kSimpleKeys) {
    if (std::strcmp(text, row.text) == 0) {
      // The release always goes to camera and gimbal, also after "play".
      PressAndRelease(row.key, 3);
      return;
    }
  }
  if (std::strcmp(text, "cancel") == 0) {
    PressAndRelease(kCancel, 5);
    PressAndRelease(kCancel, 3);
  } else if (std::strcmp(text, "back") == 0) {
    GoBack();
  } else if (std::strcmp(text, "delete") == 0) {
    DeleteSelection();
  }
}
