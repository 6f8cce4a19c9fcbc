// Cost of building and sending the frames that the RC loop repeats every
// 20 ms (gimbal speed) and of the table lookups behind the settings commands,
// over a real loopback socket standing in for the camera.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "operations/exposure_focus.h"
#include "operations/motion.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/usb_peer.h"
#include "writable_records.h"

namespace {

struct LoopbackCamera {
  int camera_fd = -1;
  LoopbackCamera() {
    camera_fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(camera_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(camera_fd, reinterpret_cast<sockaddr*>(&addr), &len);
    SetUsbSocket(socket(AF_INET, SOCK_DGRAM, 0));
    SetCameraAddress(addr);
    WritableLinkState()->link_up = 1;
  }
  ~LoopbackCamera() {
    // The receiver never reads: the kernel drops what overflows its buffer.
    close(UsbSocket());
    SetUsbSocket(-1);
    close(camera_fd);
    WritableLinkState()->link_up = 0;
  }
};

void BM_SendGimbalSpeed(benchmark::State& state) {
  LoopbackCamera camera;
  WritableLinkState()->source_mode = 1;
  int32_t pan = 0;
  for (auto _ : state) SendGimbalSpeed(pan++ & 0xFFF, -300, 0);
}
BENCHMARK(BM_SendGimbalSpeed);

void BM_SetShutterLastName(benchmark::State& state) {
  LoopbackCamera camera;
  // The command's log line goes to /dev/null while it is timed.
  fflush(stderr);
  int saved = dup(2);
  int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, 2);
  for (auto _ : state) SetShutter("8000");
  fflush(stderr);
  dup2(saved, 2);
  close(null_fd);
  close(saved);
}
BENCHMARK(BM_SetShutterLastName);

}  // namespace

BENCHMARK_MAIN();
