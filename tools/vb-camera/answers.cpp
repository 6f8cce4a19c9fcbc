#include "answers.h"

#include <cstdio>
#include <cstring>

#include "common/camera_frame.h"
#include "common/wire.h"
#include "printer.h"

namespace {

// The answers the camera expects, bytes 6-7 and the checksum rewritten per
// answer. They are written out here on purpose rather than taken from the box's
// answer table (src/camera/camera_answers.cpp): CheckAnswer holds the box's
// answers against them, and a shared table would pass whatever the box sent.
// Everything else here (frame building, checksums, decoding) is the library's.
constexpr FrameTemplate<44> kAnswerA = {
    0x55, 0x2C, 0x04, 0x36, 0x09, 0x04, 0x00, 0x00, 0x80, 0x00, 0x01, 0x00, 0x10, 0x48, 0x47,
    0x33, 0x31, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B,
    0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0xFF, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00};
constexpr FrameTemplate<44> kAnswerB = {
    0x55, 0x2C, 0x04, 0x36, 0x09, 0x01, 0x00, 0x00, 0x80, 0x00, 0x01, 0x00, 0x10, 0x48, 0x47,
    0x33, 0x31, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B,
    0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0xFF, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00};
constexpr FrameTemplate<43> kAnswerC = {
    0x55, 0x2B, 0x04, 0x58, 0x09, 0x01, 0x00, 0x00, 0x80, 0x00, 0x01, 0x00, 0x01, 0x30, 0x35,
    0x4B, 0x32, 0x30, 0x37, 0x31, 0x38, 0x33, 0x39, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x03, 0x04, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<43> kAnswerD = {
    0x55, 0x2B, 0x04, 0x58, 0x09, 0x04, 0x00, 0x00, 0x80, 0x00, 0x01, 0x00, 0x01, 0x30, 0x35,
    0x4B, 0x32, 0x30, 0x37, 0x31, 0x38, 0x33, 0x39, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x03, 0x04, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kAnswerG = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x04, 0x00,
                                        0x00, 0x80, 0x04, 0x1C, 0x06, 0x00, 0x00};
constexpr FrameTemplate<26> kAnswerS = {0x55, 0x1A, 0x04, 0xB1, 0x09, 0x04, 0x00, 0x00, 0xA0,
                                        0x04, 0x28, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kAnswerU = {0x55, 0x0E, 0x04, 0x66, 0x07, 0x01, 0x00,
                                        0x00, 0x80, 0x00, 0x50, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kAnswerK = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x01, 0x00,
                                        0x00, 0x80, 0x09, 0x0E, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kAnswerP = {0x55, 0x0E, 0x04, 0x66, 0x03, 0x04, 0x00,
                                        0x00, 0x80, 0x04, 0x1C, 0x00, 0x00, 0x00};
static_assert(FrameTemplateValid(kAnswerA) && FrameTemplateValid(kAnswerB));
static_assert(FrameTemplateValid(kAnswerC) && FrameTemplateValid(kAnswerD));
static_assert(FrameTemplateValid(kAnswerG) && FrameTemplateValid(kAnswerS) && FrameTemplateValid(kAnswerU));
static_assert(FrameTemplateValid(kAnswerK) && FrameTemplateValid(kAnswerP));

#define VB_ANSWER(t) t.data(), static_cast<uint8_t>(t.size())

// Name, length, sender, receiver, type, set, id: the box tests only the fields
// its answer table names; the others are what the camera puts there.
const CameraQuery kOsmoQueries[] = {
    {"identity-A", 13, 0x04, 0x09, 0x40, 0x00, 0x01, VB_ANSWER(kAnswerA), kSeqCopied, false, false, -1},
    {"identity-B", 13, 0x01, 0x09, 0x40, 0x00, 0x01, VB_ANSWER(kAnswerB), kSeqCopied, false, false, -1},
    {"probe-G", 14, 0x04, 0x09, 0x20, 0x04, 0x1C, VB_ANSWER(kAnswerG), kSeqZero, false, false, -1},
    {"probe-S", 14, 0x04, 0x09, 0x00, 0x04, 0x28, VB_ANSWER(kAnswerS), kSeqZero, false, false, 1},
    {"probe-U", 14, 0x01, 0x07, 0x40, 0x00, 0x50, VB_ANSWER(kAnswerU), kSeqCopied, false, false, -1},
    {"keepalive-K", 15, 0x01, 0x09, 0x40, 0x09, 0x0E, VB_ANSWER(kAnswerK), kSeqCopied, false, true, -1},
};
const CameraQuery kInspireQueries[] = {
    {"identity-C", 13, 0x01, 0x09, 0x40, 0x00, 0x01, VB_ANSWER(kAnswerC), kSeqCopied, false, false, -1},
    {"identity-D", 13, 0x04, 0x09, 0x40, 0x00, 0x01, VB_ANSWER(kAnswerD), kSeqNew, false, false, -1},
    {"probe-P", 14, 0x04, 0x03, 0x20, 0x04, 0x1C, VB_ANSWER(kAnswerP), kSeqZero, true, false, -1},
    {"keepalive-K2", 15, 0x01, 0x09, 0x40, 0x09, 0x0E, VB_ANSWER(kAnswerK), kSeqCopied, false, true, -1},
};

const char* SeqRuleText(SeqRule r) { return r == kSeqCopied ? "copied" : (r == kSeqZero ? "zero" : "new"); }

void RemovePending(AnswerChecker* c, int i) {
  c->pending[i] = c->pending[c->count - 1];
  --c->count;
}

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n, bool skip_sequence) {
  for (size_t i = 0; i < n; ++i) {
    if (skip_sequence && (i == 6 || i == 7)) continue;
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

const CameraQuery* QueriesForMode(int mode, int* count) {
  if (mode == kModeInspire) {
    *count = static_cast<int>(sizeof kInspireQueries / sizeof kInspireQueries[0]);
    return kInspireQueries;
  }
  *count = static_cast<int>(sizeof kOsmoQueries / sizeof kOsmoQueries[0]);
  return kOsmoQueries;
}

size_t BuildQuery(const CameraQuery& q, uint16_t sequence, uint8_t byte11, uint8_t* out) {
  uint8_t payload[2] = {byte11, 0};
  return BuildFrame(out, 255, q.sender, q.receiver, q.type, q.set, q.id, sequence, payload, q.length - 13u);
}

size_t ExpectedAnswer(const CameraQuery& q, uint16_t query_sequence, uint8_t byte11, uint8_t* out) {
  std::memcpy(out, q.answer, q.answer_length);
  uint16_t seq = q.seq_rule == kSeqCopied ? query_sequence : 0;
  PutU16(out + 6, seq);
  // The stored frame has no byte 12 of its own (it is the checksum): the echo
  // lands in the one payload byte, offset 11.
  if (q.echo_byte11) out[11] = byte11;
  PutU16(out + q.answer_length - 2, CameraCrc16(out, q.answer_length - 2u));
  return q.answer_length;
}

void ExpectAnswer(AnswerChecker* c, const CameraQuery* q, uint16_t sequence, uint8_t byte11, double deadline) {
  if (c->count == kMaxPending) {
    // Full only when expiry has not run for a long while: drop the most overdue.
    int oldest = 0;
    for (int i = 1; i < c->count; ++i)
      if (c->pending[i].deadline < c->pending[oldest].deadline) oldest = i;
    RemovePending(c, oldest);
  }
  c->pending[c->count++] = PendingAnswer{q, sequence, byte11, deadline};
}

AnswerResult CheckAnswer(AnswerChecker* c, const uint8_t* frame, size_t length, char* line, size_t line_size) {
  FrameFields f{};
  if (!DecodeFrame(frame, length, &f)) return kNotAnAnswer;
  int candidate = -1;
  for (int i = 0; i < c->count; ++i) {
    const PendingAnswer& p = c->pending[i];
    const uint8_t* a = p.query->answer;
    if (a[4] != f.sender || a[5] != f.receiver || a[9] != f.set || a[10] != f.id) continue;
    uint8_t expected[64];
    size_t n = ExpectedAnswer(*p.query, p.sequence, p.byte11, expected);
    bool new_seq = p.query->seq_rule == kSeqNew;
    // A new sequence number changes the checksum, so only its validity counts.
    bool same = n == length && SameBytes(expected, frame, new_seq ? n - 2 : n, new_seq) &&
                (!new_seq || f.checksum_ok);
    if (same) {
      std::snprintf(line, line_size, "answer ok %s seq=%u (%s)", p.query->name, f.sequence,
                    SeqRuleText(p.query->seq_rule));
      ++c->ok;
      RemovePending(c, i);
      return kAnswerOk;
    }
    if (candidate < 0) candidate = i;
  }
  if (candidate < 0) return kNotAnAnswer;
  const PendingAnswer& p = c->pending[candidate];
  uint8_t expected[64];
  size_t n = ExpectedAnswer(*p.query, p.sequence, p.byte11, expected);
  char want[400], got[400];
  FormatFrame(expected, n, want, sizeof want);
  FormatFrame(frame, length, got, sizeof got);
  std::snprintf(line, line_size, "answer mismatch %s: expected %s%s got %s", p.query->name, want,
                p.query->seq_rule == kSeqNew ? " (any seq)" : "", got);
  ++c->mismatched;
  RemovePending(c, candidate);
  return kAnswerMismatch;
}

int ExpireAnswers(AnswerChecker* c, double now, char (*lines)[160], int max_lines) {
  int written = 0;
  for (int i = 0; i < c->count;) {
    if (c->pending[i].deadline > now) {
      ++i;
      continue;
    }
    if (written < max_lines)
      std::snprintf(lines[written++], 160, "answer missing %s seq=%u", c->pending[i].query->name,
                    c->pending[i].sequence);
    ++c->missing;
    RemovePending(c, i);
  }
  return written;
}
