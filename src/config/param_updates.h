// The "updateparam" table: each entry changes the record, saves it at once and
// ends the sibling processes that read the changed setting at their start.
#pragma once

#include <cstddef>

#include "config/app_command.h"

// The names the table takes, one by one (nullptr past the last).
const char* ParamUpdateChoice(size_t index);

// Applies the change command.name asks for. Returns the exit code it asks of
// the launcher (2 for the camera mode settings), else 0.
int ApplyParameterUpdate(const AppCommand& command);
