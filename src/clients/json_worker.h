// JSON commands from viewers, handed to the bounded worker pool.
#pragma once

#include <cstdint>

#include "records/motion_intent.h"

// Queues one JSON command text (cut to 255 bytes) for the worker pool, which
// runs it through the application handler and the camera dispatcher; sender is
// the viewer it came from, the driver of any motion it starts. Dropped, with
// at most one log line a second, while the queue is full.
void PostJsonCommand(const uint8_t* payload, int length, MotionDriver sender);
