#include "rtp_h264.h"

#include <cstring>

#include "common/wire.h"

namespace {

uint8_t TypeOf(NalView nal) { return nal.data[0] & 0x1F; }

bool IsSlice(uint8_t type) { return type >= kNalSlice && type <= kNalSliceIdr; }

void SendPacket(RtpH264Stream* s, bool marker, const uint8_t* head, size_t head_size, const uint8_t* body,
                size_t body_size, const RtpPacketSink& sink) {
  uint8_t packet[kRtpHeaderSize + kRtpMaxPayload];
  packet[0] = 0x80;  // version 2, no padding, extension or CSRC
  packet[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | kRtpPayloadType);
  PutU16BigEndian(packet + 2, s->sequence++);
  PutU32BigEndian(packet + 4, s->timestamp);
  PutU32BigEndian(packet + 8, s->ssrc);
  std::memcpy(packet + kRtpHeaderSize, head, head_size);
  if (body_size) std::memcpy(packet + kRtpHeaderSize + head_size, body, body_size);
  sink(packet, kRtpHeaderSize + head_size + body_size);
}

void SendNal(RtpH264Stream* s, NalView nal, bool marker, const RtpPacketSink& sink) {
  if (nal.size <= kRtpMaxPayload) {
    SendPacket(s, marker, nal.data, nal.size, nullptr, 0, sink);
    return;
  }
  // FU-A: the header byte's F and NRI bits with type 28, then a fragment
  // header with start and end bits and the NAL unit's own type.
  const uint8_t indicator = static_cast<uint8_t>((nal.data[0] & 0xE0) | kNalFuA);
  const size_t room = kRtpMaxPayload - 2;
  for (size_t offset = 1; offset < nal.size; offset += room) {
    const size_t chunk = nal.size - offset < room ? nal.size - offset : room;
    const bool first = offset == 1;
    const bool last = offset + chunk == nal.size;
    const uint8_t head[2] = {indicator,
                             static_cast<uint8_t>((first ? 0x80 : 0) | (last ? 0x40 : 0) | TypeOf(nal))};
    SendPacket(s, marker && last, head, sizeof head, nal.data + offset, chunk, sink);
  }
}

void Remember(std::vector<uint8_t>* kept, NalView nal, uint32_t* changes) {
  if (kept->size() == nal.size && std::memcmp(kept->data(), nal.data, nal.size) == 0) return;
  kept->assign(nal.data, nal.data + nal.size);
  ++*changes;
}

}  // namespace

bool IsSent(uint8_t type) {
  // Delimiters, fillers and stream ends carry nothing a receiver needs; types
  // 0 and 24 ... 31 are no H.264 units (RTP uses 24 ... 29 for its own
  // aggregates and fragments), so one of them is garbage, never sent.
  return type != 0 && type < 24 && type != kNalAccessUnitDelimiter && type != kNalFiller &&
         type != kNalEndOfSequence && type != kNalEndOfStream;
}

bool BeginsPicture(NalView nal) {
  if (nal.size == 0) return true;
  const uint8_t type = TypeOf(nal);
  if (IsSlice(type)) return nal.size < 2 || (nal.data[1] & 0x80);  // first_mb_in_slice == 0
  return type == kNalAccessUnitDelimiter || type == kNalSei || type == kNalSps || type == kNalPps ||
         type == kNalEndOfSequence || type == kNalEndOfStream || (type >= 14 && type <= 18);
}

void PacketizeNal(RtpH264Stream* s, NalView nal, NalView next, uint32_t clock90k, const RtpPacketSink& sink) {
  if (nal.size == 0) return;
  const uint8_t type = TypeOf(nal);
  if (!IsSent(type)) return;
  // A new picture whose predecessor's end went unseen (a filler unit after
  // its last slice): that picture ends here, without its marker bit.
  if (s->in_picture && s->sent_slice && BeginsPicture(nal)) {
    s->in_picture = false;
    ++s->pictures;
  }
  if (!s->in_picture) {
    // Each picture its own timestamp, even two arriving within one tick.
    s->timestamp = s->pictures == 0 || static_cast<int32_t>(clock90k - s->timestamp) > 0 ? clock90k
                                                                                          : s->timestamp + 1;
    s->in_picture = true;
    s->sent_sps = s->sent_pps = s->sent_slice = false;
  }
  if (type == kNalSps) {
    Remember(&s->sps, nal, &s->parameter_sets);
    s->sent_sps = true;
  } else if (type == kNalPps) {
    Remember(&s->pps, nal, &s->parameter_sets);
    s->sent_pps = true;
  } else if (type == kNalSliceIdr && !(s->sent_sps && s->sent_pps) && !s->sps.empty() && !s->pps.empty()) {
    SendNal(s, {s->sps.data(), s->sps.size()}, false, sink);
    SendNal(s, {s->pps.data(), s->pps.size()}, false, sink);
    s->sent_sps = s->sent_pps = true;
  }
  const bool ends = IsSlice(type) && BeginsPicture(next);
  SendNal(s, nal, ends, sink);
  s->sent_slice = s->sent_slice || IsSlice(type);
  if (ends) {
    s->in_picture = false;
    ++s->pictures;
  }
}
