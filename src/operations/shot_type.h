// The shot type: single, multiple, interval, panorama and timelapse, picked by
// the command's texts.
#pragma once

#include <cstddef>

void SetShotType(const char* param, const char* value1, const char* value2);

// The value1 texts that shot type kind (the param: "single", "multiple",
// "interval", "pano") takes, one by one (nullptr past the last).
const char* ShotTypeChoice(const char* kind, size_t index);
