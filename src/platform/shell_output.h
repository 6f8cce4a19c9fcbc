// Runs a command and keeps the last line of its output.
#pragma once

#include <cstddef>

// Returns the pclose status, or 0 when the command could not be started.
int CaptureShellOutput(const char* command_line, char* destination, int size);
