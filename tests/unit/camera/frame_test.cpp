#include <gtest/gtest.h>

#include "camera/camera_link.h"
#include "camera/frame.h"
#include "loopback.h"

namespace {

TEST(CameraCrc16, KnownValues) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(CameraCrc16(abc, 3), 0x865A);
  EXPECT_EQ(CameraCrc16(abc, 0), 0x3692);
}

TEST(HeaderCrc8, StoredValuesForEveryLengthInUse) {
  const std::pair<uint8_t, uint8_t> table[] = {{13, 0x33}, {14, 0x66}, {15, 0xA2}, {16, 0x56}, {17, 0x92},
                                               {18, 0xC7}, {19, 0x03}, {20, 0x6D}, {21, 0xA9}, {23, 0x38},
                                               {26, 0xB1}, {28, 0x1B}, {43, 0x58}, {44, 0x36}, {51, 0xC2}};
  for (auto [length, crc] : table) {
    const uint8_t head[3] = {0x55, length, 0x04};
    EXPECT_EQ(HeaderCrc8(head, 3), crc) << "length " << int(length);
  }
}

TEST(SendCameraFrame, NumbersAndChecksumsEachFrame) {
  CameraEnd end = AttachCameraEnd();
  GetCameraLink()->sequence = 0;
  constexpr FrameTemplate<14> kProbe = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x66, 0x00, 0, 0};
  static_assert(FrameTemplateValid(kProbe));
  EXPECT_TRUE(SendTemplateIfLinkUp(kProbe));
  EXPECT_TRUE(SendTemplateIfLinkUp(kProbe));
  auto frames = TakeFrames(end);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].sequence, 0);
  EXPECT_EQ(frames[1].sequence, 1);
  for (auto& f : frames) EXPECT_TRUE(f.checksum_ok);
  EXPECT_EQ(FrameText(frames[0]), "14 02>01 40 02:66 | 00");
  DetachCameraEnd(end);
}

TEST(SendCameraFrame, OnlyLowSixteenBitsOfTheCounterReachTheWire) {
  CameraEnd end = AttachCameraEnd();
  GetCameraLink()->sequence = 65536;
  uint8_t frame[13] = {0x55, 0x0D, 0x04, 0x33, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x72, 0, 0};
  SendCameraFrame(frame, sizeof frame);
  EXPECT_EQ(frame[6], 0);
  EXPECT_EQ(frame[7], 0);
  EXPECT_EQ(GetCameraLink()->sequence.load(), 65537u);
  DetachCameraEnd(end);
}

TEST(SendCameraFrame, NothingLeavesWhileTheLinkIsDown) {
  CameraEnd end = AttachCameraEnd(false);
  constexpr FrameTemplate<13> kFormat = {0x55, 0x0D, 0x04, 0x33, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x72, 0, 0};
  EXPECT_FALSE(SendTemplateIfLinkUp(kFormat));
  EXPECT_TRUE(TakeFrames(end, 50, 100).empty());
  DetachCameraEnd(end);
}

TEST(SendCameraReply, KeepsTheCopiedSequence) {
  CameraEnd end = AttachCameraEnd();
  uint8_t frame[14] = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x01, 0x34, 0x12, 0x80, 0x09, 0x0E, 0x00, 0, 0};
  SendCameraReply(frame, sizeof frame);
  auto frames = TakeFrames(end);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].sequence, 0x1234);
  EXPECT_TRUE(frames[0].checksum_ok);
  DetachCameraEnd(end);
}

TEST(BuildFrame, RoundTripsThroughDecode) {
  uint8_t out[64];
  const uint8_t payload[] = {1, 2, 3};
  size_t n = BuildFrame(out, sizeof out, 0x01, 0x09, 0x40, 0x09, 0x0E, 7, payload, 3);
  ASSERT_EQ(n, 16u);
  FrameFields f{};
  ASSERT_TRUE(DecodeFrame(out, n, &f));
  EXPECT_TRUE(f.header_ok);
  EXPECT_TRUE(f.checksum_ok);
  EXPECT_EQ(f.sequence, 7);
  EXPECT_EQ(f.payload_length, 3u);
}

}  // namespace
