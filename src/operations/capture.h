// Capture: photo and video work mode, shutter release by shot mode, interval
// stop, recording start and stop, photo format and video resolution.
#pragma once

#include <cstdint>

void SetCameraWorkMode(int32_t mode);
void ShutterRelease();
void TakeShot();
void StopIntervalShooting();
void StopShot();
void SetRecording(int32_t on);
void SetPhotoFormat(int32_t format);
void SetVideoResolution(int32_t width, int32_t height, int32_t rate);
