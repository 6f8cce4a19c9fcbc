// Decimal numbers in texts from the configuration file and from commands.
#pragma once

#include <cstdint>

// strtol in base 10 (leading white space and a sign allowed, the first other
// character ends the number, no digits give 0), held to the signed 32-bit
// range: an out-of-range number saturates rather than wrapping, whatever the
// width of long. nullptr reads as 0.
int32_t ReadInt32(const char* text);

// strtod(text); no number (or nullptr) gives 0. May be infinite or NaN.
double ReadReal(const char* text);
