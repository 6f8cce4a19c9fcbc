// Playback navigation by timed key-event sequences.
#pragma once

#include "senders/camera_sender.h"

// One key event as two stored frames: the first and the second of each round
// (camera then gimbal, or camera twice for the play key).
struct KeyFrames {
  StoredFrame first;
  StoredFrame second;
};

// rounds x (first frame, 10 ms, second frame, 10 ms); each frame only while the
// link is up, the waits in any case.
void KeyBurst(const KeyFrames& key, int rounds);

// One playback command ("enter", "next", "delete" ...); other texts do nothing.
void NavigatePlayback(const char* text);
