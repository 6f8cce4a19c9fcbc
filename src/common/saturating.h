// Conversions that never hit undefined behaviour: NaN and out-of-range values
// from the network, the RC reader or arithmetic saturate instead.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// Truncation toward zero; NaN gives 0, values beyond the range saturate.
inline int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

inline int32_t SaturatedAdd(int32_t a, int32_t b) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  if (sum > INT32_MAX) return INT32_MAX;
  if (sum < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(sum);
}

// Values narrowed onto a 16-bit field of the wire saturate instead of wrapping:
// a wrapped speed would turn the gimbal the other way.
inline int16_t SaturateToInt16(int64_t value) {
  if (value > INT16_MAX) return INT16_MAX;
  if (value < INT16_MIN) return INT16_MIN;
  return static_cast<int16_t>(value);
}

inline uint16_t SaturateToUint16(int64_t value) {
  if (value > UINT16_MAX) return UINT16_MAX;
  if (value < 0) return 0;
  return static_cast<uint16_t>(value);
}

// -a, saturated to the signed 32-bit range.
inline int32_t SaturatedNegate(int32_t a) { return a == INT32_MIN ? INT32_MAX : -a; }

// A double as a float without undefined conversion: values beyond the float
// range become infinities, NaN stays NaN.
inline float SaturatedFloat(double value) {
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}
