// Playback navigation by timed key-event sequences.
#pragma once

void RunPlaybackCommand(const char* text);
