// Camera power state and settings reset.
#pragma once

#include <cstddef>

// The power states "power" takes, one by one (nullptr past the last).
const char* PowerChoice(size_t index);

void SetCameraPower(const char* state);
void ResetCamera();
