#include <string>

#include "camera_fixture.h"
#include "writable_records.h"

namespace {

enum class Seq { kCopied, kZero, kNew, kNone };

struct AnswerCase {
  const char* name;
  uint32_t mode;  // 0 Osmo, 1 Inspire
  uint8_t sender, receiver, type, set, id;
  std::vector<uint8_t> payload;
  // The start of the answer's text (length and header fields), "" when none is
  // due. Its bytes are checked against the camera stand-in's own expectation
  // (camera_against_box_test).
  const char* answer;
  Seq seq;
  const char* log;
};

std::vector<AnswerCase> Cases() {
  return {
      {"OsmoIdentityFromGimbal", 0, 0x04, 0x09, 0x40, 0x00, 0x01, {}, "44 09>04 80 00:01", Seq::kCopied,
       "Init Osmo mode\n"},
      {"OsmoIdentityFromCamera", 0, 0x01, 0x09, 0x40, 0x00, 0x01, {}, "44 09>01 80 00:01", Seq::kCopied,
       "Init Osmo mode\n"},
      {"OsmoGimbalProbe", 0, 0x04, 0x09, 0x20, 0x04, 0x1C, {0x00}, "14 09>04 80 04:1C", Seq::kZero, ""},
      {"OsmoGimbalState", 0, 0x04, 0x09, 0x00, 0x04, 0x28, {0x01}, "26 09>04 A0 04:28", Seq::kZero, ""},
      {"OsmoUnit7", 0, 0x01, 0x07, 0x40, 0x00, 0x50, {0x00}, "14 07>01 80 00:50", Seq::kCopied, ""},
      {"OsmoKeepAlive", 0, 0x01, 0x09, 0x40, 0x09, 0x0E, {0x00, 0x00}, "14 09>01 80 09:0E", Seq::kCopied, ""},
      {"InspireIdentityFromCamera", 1, 0x01, 0x09, 0x40, 0x00, 0x01, {}, "43 09>01 80 00:01", Seq::kCopied,
       "Init Inspire mode DM368\n"},
      {"InspireIdentityFromGimbalAnySetAndId", 1, 0x04, 0x09, 0x40, 0x02, 0x07, {}, "43 09>04 80 00:01", Seq::kNew,
       "Init Inspire mode Ambarella\n"},
      {"InspireProbeEchoesItsPayloadByte", 1, 0x04, 0x03, 0x20, 0x04, 0x1C, {0x5A}, "14 03>04 80 04:1C | 5A",
       Seq::kZero, ""},
      {"InspireKeepAlive", 1, 0x01, 0x09, 0x40, 0x09, 0x0E, {0x00, 0x00}, "14 09>01 80 09:0E", Seq::kCopied, ""},
      // Queries that meet no row get no answer.
      {"OsmoGimbalQueryOtherPayload", 0, 0x04, 0x09, 0x00, 0x04, 0x28, {0x02}, "", Seq::kNone, ""},
      {"OsmoKeepAliveWrongType", 0, 0x01, 0x09, 0x00, 0x09, 0x0E, {0x00, 0x00}, "", Seq::kNone, ""},
      {"OsmoIdentityFromUnknownUnit", 0, 0x02, 0x09, 0x40, 0x00, 0x01, {}, "", Seq::kNone, ""},
      {"OsmoIgnoresInspireProbe", 0, 0x04, 0x03, 0x20, 0x04, 0x1C, {0x5A}, "", Seq::kNone, ""},
      {"InspireIdentityFromCameraOtherId", 1, 0x01, 0x09, 0x40, 0x00, 0x02, {}, "", Seq::kNone, ""},
      {"InspireIgnoresOsmoGimbalProbe", 1, 0x04, 0x09, 0x20, 0x04, 0x1C, {0x00}, "", Seq::kNone, ""},
      {"InspireIgnoresUnit7", 1, 0x01, 0x07, 0x40, 0x00, 0x50, {0x00}, "", Seq::kNone, ""},
  };
}

class AnswerTable : public CameraLinkTest {};

TEST_F(AnswerTable, EveryQueryGetsItsAnswerInBothModes) {
  for (const AnswerCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    WritableLinkState()->source_mode = c.mode;
    WritableLinkState()->sequence = 0x0777;
    uint8_t query[32];
    size_t n = BuildFrame(query, sizeof query, c.sender, c.receiver, c.type, c.set, c.id, 0x1234, c.payload.data(),
                          c.payload.size());
    testing::internal::CaptureStderr();
    ParseCameraDatagram(query, static_cast<uint16_t>(n));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, c.log);

    auto frames = TakeFrames(camera_, 50, c.seq == Seq::kNone ? 150 : 1000);
    if (c.seq == Seq::kNone) {
      EXPECT_TRUE(frames.empty());
      continue;
    }
    ASSERT_EQ(frames.size(), 1u);
    const SentFrame& f = frames[0];
    EXPECT_EQ(FrameText(f).rfind(c.answer, 0), 0u) << FrameText(f);
    EXPECT_TRUE(f.checksum_ok);
    switch (c.seq) {
      case Seq::kCopied: EXPECT_EQ(f.sequence, 0x1234); break;
      case Seq::kZero: EXPECT_EQ(f.sequence, 0); break;
      case Seq::kNew:
        EXPECT_EQ(f.sequence, 0x0777);
        EXPECT_EQ(GetLinkState()->sequence.load(), 0x0778u);
        break;
      case Seq::kNone: break;
    }
  }
}

TEST_F(AnswerTable, ProbeAnswerKeepsItsChecksumWhateverTheQueryCarries) {
  WritableLinkState()->source_mode = 1;
  for (uint8_t echoed : {0x00, 0x7F, 0xFF}) {
    uint8_t query[14];
    const uint8_t payload[1] = {echoed};
    BuildFrame(query, sizeof query, 0x04, 0x03, 0x20, 0x04, 0x1C, 9, payload, 1);
    ParseCameraDatagram(query, sizeof query);
    auto frames = TakeFrames(camera_);
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].raw.size(), 14u);
    EXPECT_EQ(frames[0].raw[11], echoed);
    EXPECT_TRUE(frames[0].checksum_ok) << int(echoed);
  }
}

TEST_F(AnswerTable, AnswersFollowTheCamerasSourceAfterTheLinkWentDown) {
  // A query while the link is down brings it up and is answered at once.
  WritableLinkState()->link_up = 0;
  uint8_t query[15];
  const uint8_t payload[2] = {0, 0};
  BuildFrame(query, sizeof query, 0x01, 0x09, 0x40, 0x09, 0x0E, 5, payload, 2);
  testing::internal::CaptureStderr();
  ParseCameraDatagram(query, sizeof query);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "data connected\n");
  EXPECT_EQ(TakeFrames(camera_).size(), 1u);
}

}  // namespace
