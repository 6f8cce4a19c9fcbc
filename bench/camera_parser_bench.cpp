// Cost of one camera datagram on the USB receive thread: a keep-alive query
// with its answer, and the attitude, status and settings messages with their
// HudState updates and viewer records (no viewer registered). Answers go to a
// loopback port nobody listens on.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "camera/usb_link.h"
#include "common/camera_frame.h"
#include "common/wire.h"
#include "platform/shell.h"
#include "records/client_table.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/usb_peer.h"
#include "swallowed_frames.h"
#include "writable_records.h"

namespace {

void Prepare() {
  ShellRecordOnly(true);  // never run a shell command from a benchmark
  ClearClientTable();
  SwallowCameraFrames();
  WritableLinkState()->link_up = 1;
  WritableLinkState()->source_mode = 0;
}

std::vector<uint8_t> Frame(size_t length, uint8_t sender, uint8_t receiver, uint8_t type, uint8_t set, uint8_t id) {
  std::vector<uint8_t> f(length);
  std::vector<uint8_t> payload(length - 13);
  BuildFrame(f.data(), f.size(), sender, receiver, type, set, id, 1, payload.data(), payload.size());
  return f;
}

void Run(benchmark::State& state, const std::vector<uint8_t>& frame) {
  Prepare();
  for (auto _ : state) {
    ParseCameraDatagram(frame.data(), static_cast<uint16_t>(frame.size()));
  }
  ShellTakeLog();
  state.SetItemsProcessed(state.iterations());
}

void BM_KeepAliveWithAnswer(benchmark::State& state) { Run(state, Frame(15, 0x01, 0x09, 0x40, 0x09, 0x0E)); }

void BM_AttitudeMessage(benchmark::State& state) {
  auto f = Frame(25, 0x04, 0x09, 0x00, 0x04, 0x05);
  PutU16(f.data() + 11, 347);
  PutU16(f.data() + 15, 1630);
  f[17] = 1;  // unlocked, as wanted: no lock keys
  WritableMotionIntent()->orientation_lock_wanted = 0;
  Run(state, f);
}

void BM_CameraStatusMessage(benchmark::State& state) { Run(state, Frame(49, 0x01, 0x09, 0x00, 0x02, 0x00)); }

void BM_CameraSettingsMessage(benchmark::State& state) {
  auto f = Frame(104, 0x01, 0x09, 0x00, 0x02, 0x00);
  f[24] = 1;
  f[25] = 3;
  PutU24(f.data() + 13, 0x8064);
  f[68] = 6;
  f[45] = 2;
  Run(state, f);
}

BENCHMARK(BM_KeepAliveWithAnswer);
BENCHMARK(BM_AttitudeMessage);
BENCHMARK(BM_CameraStatusMessage);
BENCHMARK(BM_CameraSettingsMessage);

}  // namespace

BENCHMARK_MAIN();
