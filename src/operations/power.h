// Camera power state and settings reset.
#pragma once

void SetCameraPower(const char* state);
void ResetCamera();
