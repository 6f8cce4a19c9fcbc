// Answers to the camera's identity, probe and keep-alive queries. The camera
// looks for a particular unit on the far end and keeps the link only while its
// queries are answered as that unit would; the answers differ by work mode.
// The camera stand-in (tools/vb-camera) keeps its own copy of these answers to
// check the box against: a change here is a change there.
#include <cstdio>
#include <cstring>

#include "camera/camera_link.h"
#include "camera/camera_messages.h"
#include "camera/frame.h"

namespace {

// Identity answers: Osmo mode to the gimbal (A) and to the camera (B).
constexpr FrameTemplate<44> kIdentityAnswerA = {
    0x55, 0x2C, 0x04, 0x36, 0x09, 0x04, 0x00, 0x00, 0x80, 0x00, 0x01,
    0x00, 0x10, 0x48, 0x47, 0x33, 0x31, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0xFF, 0x03, 0x00, 0x00, 0x01,
    0x00, 0x00};
constexpr FrameTemplate<44> kIdentityAnswerB = {
    0x55, 0x2C, 0x04, 0x36, 0x09, 0x01, 0x00, 0x00, 0x80, 0x00, 0x01,
    0x00, 0x10, 0x48, 0x47, 0x33, 0x31, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0xFF, 0x03, 0x00, 0x00, 0x01,
    0x00, 0x00};
// Identity answers: Inspire mode to the camera (C) and to the gimbal (D).
constexpr FrameTemplate<43> kIdentityAnswerC = {
    0x55, 0x2B, 0x04, 0x58, 0x09, 0x01, 0x00, 0x00, 0x80, 0x00, 0x01,
    0x00, 0x01, 0x30, 0x35, 0x4B, 0x32, 0x30, 0x37, 0x31, 0x38, 0x33, 0x39, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x04, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00};
constexpr FrameTemplate<43> kIdentityAnswerD = {
    0x55, 0x2B, 0x04, 0x58, 0x09, 0x04, 0x00, 0x00, 0x80, 0x00, 0x01,
    0x00, 0x01, 0x30, 0x35, 0x4B, 0x32, 0x30, 0x37, 0x31, 0x38, 0x33, 0x39, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x04, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00};
// Osmo mode: gimbal probe answer (G), gimbal state answer (S), unit-7 answer (U).
constexpr FrameTemplate<14> kGimbalProbeAnswer = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x04, 0x00,
                                                  0x00, 0x80, 0x04, 0x1C, 0x06, 0x00, 0x00};
constexpr FrameTemplate<26> kGimbalStateAnswer = {0x55, 0x1A, 0x04, 0xB1, 0x09, 0x04, 0x00, 0x00, 0xA0,
                                                  0x04, 0x28, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kUnit7Answer = {0x55, 0x0E, 0x04, 0x66, 0x07, 0x01, 0x00,
                                            0x00, 0x80, 0x00, 0x50, 0x00, 0x00, 0x00};
// Keep-alive answer, the same in both modes (K and K').
constexpr FrameTemplate<14> kKeepAliveAnswer = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x01, 0x00,
                                                0x00, 0x80, 0x09, 0x0E, 0x00, 0x00, 0x00};
// Inspire mode probe answer (P): its one payload byte comes from the query.
constexpr FrameTemplate<14> kProbeAnswer = {0x55, 0x0E, 0x04, 0x66, 0x03, 0x04, 0x00,
                                            0x00, 0x80, 0x04, 0x1C, 0x00, 0x00, 0x00};

static_assert(FrameTemplateValid(kIdentityAnswerA));
static_assert(FrameTemplateValid(kIdentityAnswerB));
static_assert(FrameTemplateValid(kIdentityAnswerC));
static_assert(FrameTemplateValid(kIdentityAnswerD));
static_assert(FrameTemplateValid(kGimbalProbeAnswer));
static_assert(FrameTemplateValid(kGimbalStateAnswer));
static_assert(FrameTemplateValid(kUnit7Answer));
static_assert(FrameTemplateValid(kKeepAliveAnswer));
static_assert(FrameTemplateValid(kProbeAnswer));

enum class AnswerSequence { kCopied, kStored, kNew };

// Copies the stored answer, sets its sequence as the answer table says and
// sends it (while the link is up; the frame that asked has just raised it).
template <size_t N>
void SendAnswer(const FrameTemplate<N>& stored, const uint8_t* query, AnswerSequence sequence,
                int payload_from_query = -1) {
  if (!GetCameraLink()->link_up) return;
  uint8_t frame[N];
  std::memcpy(frame, stored.data(), N);
  if (payload_from_query >= 0) frame[payload_from_query] = query[payload_from_query];
  switch (sequence) {
    case AnswerSequence::kCopied:
      frame[6] = query[6];
      frame[7] = query[7];
      SendCameraReply(frame, static_cast<uint16_t>(N));
      break;
    case AnswerSequence::kStored:
      SendCameraReply(frame, static_cast<uint16_t>(N));
      break;
    case AnswerSequence::kNew:
      SendCameraFrame(frame, static_cast<uint16_t>(N));
      break;
  }
}

bool From(const uint8_t* frame, uint8_t sender, uint8_t receiver) {
  return frame[4] == sender && frame[5] == receiver;
}

void AnswerAsOsmo(const uint8_t* q, size_t length) {
  if (length == 13) {
    if (From(q, 0x04, 0x09)) {
      fprintf(stderr, "Init Osmo mode\n");
      SendAnswer(kIdentityAnswerA, q, AnswerSequence::kCopied);
    } else if (From(q, 0x01, 0x09)) {
      fprintf(stderr, "Init Osmo mode\n");
      SendAnswer(kIdentityAnswerB, q, AnswerSequence::kCopied);
    }
  } else if (length == 14) {
    if (From(q, 0x04, 0x09) && q[8] == 0x20) SendAnswer(kGimbalProbeAnswer, q, AnswerSequence::kStored);
    if (From(q, 0x04, 0x09) && q[8] == 0x00 && q[11] == 1) SendAnswer(kGimbalStateAnswer, q, AnswerSequence::kStored);
    if (From(q, 0x01, 0x07)) SendAnswer(kUnit7Answer, q, AnswerSequence::kCopied);
  } else if (length == 15) {
    if (From(q, 0x01, 0x09) && q[8] == 0x40) SendAnswer(kKeepAliveAnswer, q, AnswerSequence::kCopied);
  }
}

void AnswerAsInspire(const uint8_t* q, size_t length) {
  if (length == 13) {
    if (From(q, 0x01, 0x09) && q[9] == 0x00 && q[10] == 0x01) {
      fprintf(stderr, "Init Inspire mode DM368\n");
      SendAnswer(kIdentityAnswerC, q, AnswerSequence::kCopied);
    } else if (From(q, 0x04, 0x09)) {
      fprintf(stderr, "Init Inspire mode Ambarella\n");
      SendAnswer(kIdentityAnswerD, q, AnswerSequence::kNew);
    }
  } else if (length == 14) {
    // The query's one payload byte (offset 11) is echoed at the same offset;
    // offset 12 of a 14-byte frame belongs to the checksum.
    if (From(q, 0x04, 0x03) && q[8] == 0x20) SendAnswer(kProbeAnswer, q, AnswerSequence::kStored, 11);
  } else if (length == 15) {
    if (From(q, 0x01, 0x09) && q[8] == 0x40) SendAnswer(kKeepAliveAnswer, q, AnswerSequence::kCopied);
  }
}

}  // namespace

void AnswerCameraQuery(const uint8_t* frame, size_t length) {
  if (length < 13 || length > 15) return;
  if (GetCameraLink()->source_mode == 1) {
    AnswerAsInspire(frame, length);
  } else {
    AnswerAsOsmo(frame, length);
  }
}
