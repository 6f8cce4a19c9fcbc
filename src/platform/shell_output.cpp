#include "platform/shell_output.h"

#include <cstdio>

#include "platform/shell.h"

int CaptureShellOutput(const char* command_line, char* destination, int size) {
  FILE* stream = OpenShellOutput(command_line);
  if (stream == nullptr) return 0;
  // Each read takes at most size - 2 characters, so the last line read (and its
  // NUL) always fits; areas too small for one character are only drained.
  if (destination != nullptr && size >= 3) {
    while (fgets(destination, size - 1, stream) != nullptr) {
    }
    for (int i = 0; i < size; ++i) {
      if (destination[i] == '\r' || destination[i] == '\n') destination[i] = '\0';
      else if (destination[i] == '\t') destination[i] = ' ';
    }
  } else {
    char scratch[256];
    while (fgets(scratch, sizeof scratch, stream) != nullptr) {
    }
  }
  return CloseShellOutput(stream);
}
