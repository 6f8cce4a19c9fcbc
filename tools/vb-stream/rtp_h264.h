// RTP packets of H.264 video, packetization mode 1 (RFC 6184): a NAL unit
// that fits one packet travels as it is (a single NAL unit packet), a longer
// one as FU-A fragments. The latest SPS and PPS go ahead of every IDR picture
// that does not carry them itself, so a receiver that joins at any key frame
// starts decoding at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "nal_reassembly.h"

constexpr uint8_t kRtpPayloadType = 96;
constexpr size_t kRtpHeaderSize = 12;
// Room for Janus's SRTP and header extensions within a 1280-byte path MTU.
constexpr size_t kRtpMaxPayload = 1200;
constexpr uint32_t kRtpClockRate = 90000;

enum NalType : uint8_t {
  kNalSlice = 1,
  kNalSliceIdr = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
  kNalAccessUnitDelimiter = 9,
  kNalEndOfSequence = 10,
  kNalEndOfStream = 11,
  kNalFiller = 12,
  kNalFuA = 28,
};

struct RtpH264Stream {
  uint32_t ssrc = 0;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;   // of the picture being sent, or of the last one
  bool in_picture = false;  // a picture's NAL units are going out
  bool sent_sps = false;    // within the current picture
  bool sent_pps = false;
  bool sent_slice = false;
  std::vector<uint8_t> sps, pps;
  uint32_t parameter_sets = 0;  // advances when the SPS or PPS changes
  uint64_t pictures = 0;        // pictures ended (marker bit sent)
};

using RtpPacketSink = std::function<void(const uint8_t* packet, size_t size)>;

// Sends one NAL unit as RTP packets. next: the first bytes of the NAL unit
// that follows it (they tell whether the picture ends here, which sets the
// marker bit). clock90k: the 90 kHz clock now; a NAL unit that begins a
// picture gives the picture this timestamp (kept rising).
void PacketizeNal(RtpH264Stream* s, NalView nal, NalView next, uint32_t clock90k, const RtpPacketSink& sink);

// Whether NAL units of this type go out at all.
bool IsSent(uint8_t type);

// Whether a NAL unit starting with these bytes begins a new picture after a
// picture's slices (an access unit delimiter, SEI, SPS, PPS, or the first
// slice of a picture).
bool BeginsPicture(NalView nal);
