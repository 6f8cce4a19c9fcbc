// The JSON camera vocabulary: one command text to camera frames and operations.
#pragma once

// Runs one command text (a JSON object with cmd, param, value1, value2). Texts
// that are not camera commands pass through without effect. length is not
// needed: the text is NUL-terminated.
void DispatchCameraCommand(const char* text, int length);

// True when cmd names one of the dispatcher's command groups.
bool IsCameraCommandGroup(const char* cmd);
