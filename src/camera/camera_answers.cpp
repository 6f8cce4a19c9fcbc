// The camera stand-in (tools/vb-camera) keeps its own copy of these answers to
// check the box against: a change here is a change there.
#include "camera/camera_answers.h"

#include <cstdio>
#include <cstring>

#include "records/link_state.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"

namespace {

enum class AnswerSequence { kCopied, kStored, kNew };

// Copies the stored answer, sets its sequence as the answer table says and
// sends it (while the link is up; the frame that asked has just raised it).
// Answers keep or make their own sequence numbers, so they are sent here
// rather than through the patch-and-send of commands.
template <size_t N>
void SendAnswer(const FrameTemplate<N>& stored, const uint8_t* query, AnswerSequence sequence,
                int payload_from_query = -1) {
  if (!GetLinkState()->link_up) return;
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
  if (GetLinkState()->source_mode == 1) {
    AnswerAsInspire(frame, length);
  } else {
    AnswerAsOsmo(frame, length);
  }
}
