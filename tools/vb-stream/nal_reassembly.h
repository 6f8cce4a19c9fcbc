// The camera's video as H.264 NAL units. The camera sends an H.264 byte
// stream (Annex B: every NAL unit behind a 00 00 01 or 00 00 00 01 start
// code) cut into datagrams wherever it likes, and the box relays those
// datagrams unchanged. This is the one place that knows that framing: a
// camera that frames its video another way needs only this function changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct NalView {
  const uint8_t* data = nullptr;  // from the NAL unit's header byte on, no start code
  size_t size = 0;
};

// A NAL unit is whole once the next start code arrives. It is handed on with
// the first byte or two of the NAL unit after it, which tell whether the
// picture ended with it (so the end of a picture costs no wait when the camera
// sends the next picture's access unit delimiter right behind it).
struct NalReassembly {
  struct Bounds {
    size_t begin;  // in bytes
    size_t end;    // kOpen until the next start code is seen
  };
  static constexpr size_t kOpen = SIZE_MAX;
  std::vector<uint8_t> bytes;  // stream bytes not yet handed on
  size_t scanned = 0;          // bytes[0, scanned) searched for start codes
  std::vector<Bounds> units;   // NAL units begun in bytes, oldest first
  uint64_t overlong = 0;       // NAL units dropped for being longer than kMaxNalSize
};

// Larger than any picture of a camera the box serves; a longer unit is dropped
// up to the next start code rather than held without bound.
constexpr size_t kMaxNalSize = 4 << 20;

using NalSink = std::function<void(NalView nal, NalView next)>;

// Takes one video datagram's payload; calls sink for each NAL unit it completes.
void FeedVideoPayload(NalReassembly* r, const uint8_t* data, size_t size, const NalSink& sink);
