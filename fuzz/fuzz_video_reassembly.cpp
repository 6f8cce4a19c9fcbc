// The camera's video as vb-stream takes it apart: whatever bytes arrive, cut
// into datagrams wherever they fall, the NAL units that come out are the same
// as from the whole stream at once, none holds a start code or ends in a zero
// byte, and every RTP packet made of them fits and rebuilds its unit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../tools/vb-stream/nal_reassembly.h"
#include "../tools/vb-stream/rtp_h264.h"

namespace {

using Units = std::vector<std::vector<uint8_t>>;

void Check(bool condition) {
  if (!condition) std::abort();
}

// NAL units and the RTP packets made of them, checked as they pass.
struct Collector {
  Units units;
  RtpH264Stream rtp;
  std::vector<uint8_t> fragments;  // an FU-A unit being rebuilt

  void Take(NalView nal, NalView next) {
    Check(nal.size > 0 && nal.data[nal.size - 1] != 0 && next.size <= 2);
    for (size_t i = 0; i + 2 < nal.size; ++i) {
      Check(!(nal.data[i] == 0 && nal.data[i + 1] == 0 && nal.data[i + 2] == 1));
    }
    units.emplace_back(nal.data, nal.data + nal.size);
    const uint8_t type = nal.data[0] & 0x1F;
    Units sent;  // whole units, single or rebuilt from their fragments
    PacketizeNal(&rtp, nal, next, static_cast<uint32_t>(units.size()) * 3000, [&](const uint8_t* p, size_t n) {
      Check(n > kRtpHeaderSize && n <= kRtpHeaderSize + kRtpMaxPayload && p[0] == 0x80);
      const uint8_t* payload = p + kRtpHeaderSize;
      const size_t size = n - kRtpHeaderSize;
      if ((payload[0] & 0x1F) != kNalFuA) {
        sent.emplace_back(payload, payload + size);
        return;
      }
      Check(size > 2);
      if (payload[1] & 0x80) fragments.assign(1, static_cast<uint8_t>((payload[0] & 0xE0) | (payload[1] & 0x1F)));
      fragments.insert(fragments.end(), payload + 2, payload + size);
      if (payload[1] & 0x40) sent.push_back(fragments);
    });
    // The unit itself, after the parameter sets put ahead of an IDR picture.
    Check(IsSent(type) == !sent.empty());
    if (sent.empty()) return;
    Check(sent.back() == units.back());
    for (size_t i = 0; i + 1 < sent.size(); ++i) Check(sent[i] == rtp.sps || sent[i] == rtp.pps);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte seeds the datagram sizes; the rest is the stream.
  unsigned seed = data[0];
  const uint8_t* stream = data + 1;
  const size_t length = size - 1;

  Collector whole, split;
  NalReassembly at_once, in_pieces;
  FeedVideoPayload(&at_once, stream, length, [&](NalView nal, NalView next) { whole.Take(nal, next); });
  for (size_t offset = 0; offset < length;) {
    seed = seed * 1103515245u + 12345u;
    const size_t piece = std::min<size_t>(length - offset, 1 + (seed >> 16) % 64);
    // An exact-size copy, so the sanitizer sees any read beyond a datagram.
    std::vector<uint8_t> datagram(stream + offset, stream + offset + piece);
    FeedVideoPayload(&in_pieces, datagram.data(), datagram.size(),
                     [&](NalView nal, NalView next) { split.Take(nal, next); });
    offset += piece;
  }
  Check(whole.units == split.units);
  return 0;
}
