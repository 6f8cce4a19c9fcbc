// A camera command text (a JSON object with cmd, param, value1, value2) to the
// route its "cmd" names in the command vocabulary.
#pragma once

#include "records/motion_intent.h"

// Acts on one command text. Texts that are not camera commands pass through
// without effect. length is not needed: the text is NUL-terminated. sender:
// the viewer the text came from (0 for the mailbox), the driver of any motion
// the command starts.
void DispatchCameraCommand(const char* text, int length, MotionDriver sender = 0);
