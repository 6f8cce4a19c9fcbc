#include "nal_reassembly.h"

namespace {

constexpr uint8_t kTypeMask = 0x1F;
constexpr uint8_t kSliceNonIdr = 1;
constexpr uint8_t kSliceIdr = 5;

// Enough of the next NAL unit is there to tell whether a picture ended: its
// header, and for a slice also the byte whose top bit says "first slice".
bool LookaheadReady(const NalReassembly& r, const NalReassembly::Bounds& next) {
  const size_t end = next.end == NalReassembly::kOpen ? r.bytes.size() : next.end;
  if (end <= next.begin) return next.end != NalReassembly::kOpen;
  const uint8_t type = r.bytes[next.begin] & kTypeMask;
  const bool slice = type == kSliceNonIdr || type == kSliceIdr;
  return !slice || end - next.begin >= 2 || next.end != NalReassembly::kOpen;
}

NalView Lookahead(const NalReassembly& r, const NalReassembly::Bounds& next) {
  const size_t end = next.end == NalReassembly::kOpen ? r.bytes.size() : next.end;
  const size_t size = end > next.begin ? end - next.begin : 0;
  return {r.bytes.data() + next.begin, size < 2 ? size : 2};
}

void Discard(NalReassembly* r, size_t count) {
  r->bytes.erase(r->bytes.begin(), r->bytes.begin() + static_cast<std::ptrdiff_t>(count));
  r->scanned -= count;
  for (NalReassembly::Bounds& u : r->units) {
    u.begin -= count;
    if (u.end != NalReassembly::kOpen) u.end -= count;
  }
}

}  // namespace

void FeedVideoPayload(NalReassembly* r, const uint8_t* data, size_t size, const NalSink& sink) {
  r->bytes.insert(r->bytes.end(), data, data + size);
  std::vector<uint8_t>& b = r->bytes;

  // Start codes: 00 00 01. Zero bytes before one (the 4-byte form's leading
  // zero, trailing padding) belong to no NAL unit: a NAL unit never ends in 00.
  for (size_t i = r->scanned; i + 2 < b.size(); ++i) {
    if (b[i + 2] > 1) {
      i += 2;  // no start code can begin at i, i + 1 or i + 2
      continue;
    }
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    if (!r->units.empty() && r->units.back().end == NalReassembly::kOpen) {
      size_t end = i;
      while (end > r->units.back().begin && b[end - 1] == 0) --end;
      r->units.back().end = end;
    }
    r->units.push_back({i + 3, NalReassembly::kOpen});
    i += 2;
  }
  r->scanned = b.size() >= 2 ? b.size() - 2 : 0;
  if (!r->units.empty() && r->scanned < r->units.back().begin) r->scanned = r->units.back().begin;

  size_t done = 0;
  while (done + 1 < r->units.size() && LookaheadReady(*r, r->units[done + 1])) {
    const NalReassembly::Bounds& u = r->units[done];
    if (u.end > u.begin) sink({b.data() + u.begin, u.end - u.begin}, Lookahead(*r, r->units[done + 1]));
    ++done;
  }
  r->units.erase(r->units.begin(), r->units.begin() + static_cast<std::ptrdiff_t>(done));

  if (!r->units.empty() && r->units.front().end == NalReassembly::kOpen &&
      b.size() - r->units.front().begin > kMaxNalSize) {
    ++r->overlong;
    r->units.clear();
  }
  // Keep the NAL units still open or waiting; before the first start code,
  // only the two bytes that could begin one.
  size_t keep_from = r->units.empty() ? r->scanned : r->units.front().begin;
  if (r->units.empty() && b.size() - keep_from > 2) keep_from = b.size() - 2;
  Discard(r, keep_from);
}
