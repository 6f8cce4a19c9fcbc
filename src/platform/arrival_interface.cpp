#include "platform/arrival_interface.h"

#include <net/if.h>
#include <netinet/in.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/log.h"

namespace {

// Written at start-up only; read by the receive threads.
char g_name[IF_NAMESIZE] = "usb0";
std::atomic<int> g_index{0};
RateGate g_lookups;

bool IsInterfaceName(const char* name) {
  const size_t length = std::strlen(name);
  if (length == 0 || length >= IF_NAMESIZE) return false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c) && c != '.' && c != '-' && c != '_' && c != '@') return false;
  }
  return true;
}

}  // namespace

void SetCameraInterface(const char* name) {
  std::snprintf(g_name, sizeof g_name, "%s", name != nullptr && IsInterfaceName(name) ? name : kDefaultCameraInterface);
  g_index.store(0);
  g_lookups.opened.store(false);
}

void LoadCameraInterface(const char* path) {
  SetCameraInterface(kDefaultCameraInterface);
  FILE* file = std::fopen(path, "re");
  if (file == nullptr) return;
  char line[64] = {};
  char name[64] = {};
  const bool read = std::fgets(line, sizeof line, file) != nullptr && std::sscanf(line, "%63s", name) == 1;
  std::fclose(file);
  if (read && IsInterfaceName(name)) {
    SetCameraInterface(name);
  } else {
    LogWarning("%s names no interface: the camera link is %s\n", path, kDefaultCameraInterface);
  }
}

const char* CameraInterfaceName() { return g_name; }

void ReportArrivalInterface(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
}

int ArrivalInterface(const msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(const_cast<msghdr*>(&message), c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info;
    std::memcpy(&info, CMSG_DATA(c), sizeof info);
    return info.ipi_ifindex;
  }
  return 0;
}

bool IsCameraInterface(int index) {
  if (index <= 0) return false;
  if (index == g_index.load(std::memory_order_relaxed)) return true;
  if (!RateGatePasses(&g_lookups, 1000)) return false;
  const int current = static_cast<int>(if_nametoindex(g_name));
  g_index.store(current, std::memory_order_relaxed);
  return current == index;
}
