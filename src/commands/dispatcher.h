// The JSON camera vocabulary: one command text to camera frames and operations.
#pragma once

void DispatchCameraCommand(const char* text, int length);
