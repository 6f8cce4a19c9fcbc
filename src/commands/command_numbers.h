// Numbers inside command texts: integers by strtol in base 10, reals by strtod,
// made safe for the fixed-width values the camera operations take.
#pragma once

#include <cstdint>

#include "common/number_text.h"
#include "common/saturating.h"

// strtol(text, base 10), saturated to the signed 32-bit range; no digits give 0
// (the box's one number reader).
inline int32_t CommandInteger(const char* text) { return ReadInt32(text); }

// strtod(text); no number gives 0. May be infinite or NaN.
double CommandReal(const char* text);

// A double as a float without undefined conversion: values beyond the float
// range become infinities, NaN stays NaN.
float SaturatedFloat(double value);

// -a, saturated to the signed 32-bit range (a + b: SaturatedAdd).
int32_t SaturatedNegate(int32_t a);
