#include "common/number_text.h"

#include <cstdlib>
#include <limits>

int32_t ReadInt32(const char* text) {
  if (text == nullptr) return 0;
  // strtoll saturates at its own limits, which lie beyond the 32-bit ones.
  long long n = std::strtoll(text, nullptr, 10);
  if (n > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (n < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(n);
}

double ReadReal(const char* text) {
  if (text == nullptr) return 0.0;
  return std::strtod(text, nullptr);
}
