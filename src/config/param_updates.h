// The "updateparam" table: each entry changes the record, saves it at once and
// ends the sibling processes that read the changed setting at their start.
#pragma once

#include "config/app_command.h"

// Applies the change command.name asks for. Returns the exit code it asks of
// the launcher (2 for the camera mode settings), else 0.
int ApplyParameterUpdate(const AppCommand& command);
