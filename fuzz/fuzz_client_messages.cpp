// Arbitrary viewer payloads into the message handler: connects, disconnects,
// gimbal control and attitude with any length, from a handful of senders.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "clients/discovery.h"
#include "platform/clock.h"
#include "records/client_table.h"
#include "records/viewer_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    SkipSleepsForFuzzing(true);
    return true;
  }();
  (void)ready;
  // The first byte picks the sender; the rest is the payload as the receive
  // thread hands it over (at most 1488 bytes).
  if (size < 1) return 0;
  const uint8_t sender = data[0];
  ++data;
  --size;
  if (size > kClientReceiveSize - kClientHeaderSize) size = kClientReceiveSize - kClientHeaderSize;
  // JSON commands run on worker threads and may end the process by design.
  if (size >= 1 && data[0] == kMsgJson) return 0;

  // Loopback senders only: an acknowledgement must never leave the machine.
  static const char* const kAddresses[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.1.2.3"};
  const char* address = kAddresses[sender & 3];
  const uint32_t port = (sender & 4) ? kDiscoveryPort : 40000u + (sender >> 3);

  // An exact-size copy, so a read past the payload is caught.
  std::vector<uint8_t> payload(data, data + size);
  HandleClientMessage(payload.empty() ? nullptr : payload.data(), static_cast<int>(size), address, port);
  if ((sender & 0xF0) == 0xF0) ExpireClientsAt(MillisecondClock() + 6000);
  return 0;
}
