#include <gtest/gtest.h>

#include "common/camera_frame.h"

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
