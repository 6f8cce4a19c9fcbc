// The one entry of a command text (a JSON object with "cmd" and the members
// its word takes), from a viewer or from the local mailbox: parsed once and
// handed to the route its "cmd" names in the command vocabulary, a box-level
// command or a camera command.
#pragma once

#include "records/motion_intent.h"

// Acts on one command text. Texts that name no command pass through without
// effect. length is not needed: the text is NUL-terminated. sender: the viewer
// the text came from (0 for the mailbox), the driver of any motion the command
// starts. May end the process: exit code 3 for "restart", 2 after a change of
// the camera mode settings.
void RunCommandText(const char* text, int length, MotionDriver sender = 0);
