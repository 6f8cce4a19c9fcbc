// Arbitrary datagrams from the camera's side into the frame parser, in both
// work modes, with the link up and answers going to a port nobody listens on.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "camera/usb_link.h"
#include "common/camera_frame.h"
#include "common/wire.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/worker_pool.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/usb_peer.h"
#include "swallowed_frames.h"
#include "writable_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    SkipSleepsForFuzzing(true);
    SwallowCameraFrames();
    return true;
  }();
  (void)ready;
  if (size < 1) return 0;

  // First byte: work mode, the orientation lock the user wants, and whether
  // to make the datagram an intact frame (framing and both checksums), so the
  // handlers behind the checks are reached; the rest is the datagram, copied to
  // a buffer of exactly its size so over-reads show.
  WritableLinkState()->source_mode = data[0] & 0x01;
  WritableMotionIntent()->orientation_lock_wanted = (data[0] >> 1) & 0x01;
  WritableLinkState()->link_up = 1;
  size_t length = size - 1;
  if (length > 65535) length = 65535;
  std::vector<uint8_t> datagram(data + 1, data + 1 + length);
  if ((data[0] & 0x04) != 0 && length >= 13 && length <= 255) {
    datagram[0] = kFrameStart;
    datagram[1] = static_cast<uint8_t>(length);
    datagram[3] = HeaderCrc8(datagram.data(), 3);
    PutU16(datagram.data() + length - 2, CameraCrc16(datagram.data(), length - 2));
  }
  ParseCameraDatagram(datagram.data(), static_cast<uint16_t>(datagram.size()));
  WaitForIdleWorkers();  // what the parser handed off runs before the next input changes the link
  ShellTakeLog();  // the recorded shell lines would otherwise pile up
  return 0;
}
