#include "records/usb_peer.h"

#include <atomic>
#include <cstdint>

namespace {

std::atomic<int> g_fd{-1};
// Host (network order) in bits 16-47, port (network order) in bits 0-15.
std::atomic<uint64_t> g_camera_address{0};

}  // namespace

void SetUsbSocket(int fd) { g_fd.store(fd, std::memory_order_relaxed); }

int UsbSocket() { return g_fd.load(std::memory_order_relaxed); }

void SetCameraAddress(const sockaddr_in& address) {
  g_camera_address.store(static_cast<uint64_t>(address.sin_addr.s_addr) << 16 | address.sin_port,
                         std::memory_order_relaxed);
}

sockaddr_in CameraAddress() {
  const uint64_t packed = g_camera_address.load(std::memory_order_relaxed);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = static_cast<in_addr_t>(packed >> 16);
  address.sin_port = static_cast<in_port_t>(packed & 0xFFFF);
  return address;
}
