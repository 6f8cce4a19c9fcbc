// A camera command text (a JSON object with cmd, param, value1, value2) to the
// route its "cmd" names in the command vocabulary.
#pragma once

// Runs one command text. Texts that are not camera commands pass through
// without effect. length is not needed: the text is NUL-terminated.
void DispatchCameraCommand(const char* text, int length);
