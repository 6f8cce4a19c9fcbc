// Camera power state, clock and settings reset.
#pragma once

void SetCameraPower(const char* state);
void SetCameraDateTime(int hour, int minute, int second, int day, int month, int year);
void ResetCamera();
