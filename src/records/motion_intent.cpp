#include "records/motion_intent.h"

#include <arpa/inet.h>

namespace {
MotionIntent g_motion_intent;
}

MotionIntent* GetMotionIntent() { return &g_motion_intent; }

MotionDriver ViewerMotionDriver(const char* address, uint32_t port) {
  in_addr parsed{};
  if (address == nullptr || inet_pton(AF_INET, address, &parsed) != 1) return 0;
  return (static_cast<MotionDriver>(ntohl(parsed.s_addr)) << 16 | (port & 0xFFFFu)) + 1;
}
