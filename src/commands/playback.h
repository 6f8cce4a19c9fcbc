// Playback navigation by timed key-event sequences.
#pragma once

#include "commands/stored_frame.h"

// One key event as two stored frames: the first and the second of each round
// (camera then gimbal, or camera twice for the play key).
struct KeyFrames {
  StoredFrame first;
  StoredFrame second;
};

// rounds x (first frame, 10 ms, second frame, 10 ms); each frame only while the
// link is up, the waits in any case.
void KeyBurst(const KeyFrames& key, int rounds);

void RunPlaybackCommand(const char* text);
