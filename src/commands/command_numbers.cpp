#include "commands/command_numbers.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

int32_t Clamp32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace

double CommandReal(const char* text) {
  if (text == nullptr) return 0.0;
  return std::strtod(text, nullptr);
}

float SaturatedFloat(double value) {
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

int32_t SaturatedNegate(int32_t a) { return Clamp32(-static_cast<int64_t>(a)); }
