// One camera command as the dispatcher read it, and what runs it.
#pragma once

#include "records/motion_intent.h"

// The four members of a command text, as texts. A member that is missing or
// not a JSON string reads as the empty text; for value1 and value2 the
// dispatcher also remembers that it was present but not a string. sender: the
// viewer that sent the text, 0 when none did.
struct CameraCommand {
  const char* cmd;
  const char* param;
  const char* value1;
  const char* value2;
  bool value1_not_text;
  bool value2_not_text;
  MotionDriver sender;
};

// What runs a command: one per command group ("cmd"); it reads the param itself.
using CommandRoute = void (*)(const CameraCommand&);
