// The camera stand-in's answer checker: what it accepts as the box's answer to
// each query, and what it reports as a mismatch or a missing answer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../../tools/vb-camera/answers.h"
#include "../../../tools/vb-camera/printer.h"
#include "common/camera_frame.h"
#include "common/wire.h"

namespace {

const CameraQuery* FindQuery(int mode, const char* name) {
  int count = 0;
  const CameraQuery* q = QueriesForMode(mode, &count);
  for (int i = 0; i < count; ++i)
    if (std::strcmp(q[i].name, name) == 0) return &q[i];
  return nullptr;
}

std::vector<uint8_t> Hex(const char* text) {
  std::vector<uint8_t> out;
  unsigned v;
  int used;
  while (std::sscanf(text, "%x%n", &v, &used) == 1) {
    out.push_back(static_cast<uint8_t>(v));
    text += used;
  }
  return out;
}

std::vector<uint8_t> WithCrc(std::vector<uint8_t> f) {
  uint16_t crc = CameraCrc16(f.data(), f.size());
  f.push_back(static_cast<uint8_t>(crc));
  f.push_back(static_cast<uint8_t>(crc >> 8));
  return f;
}

std::string Check(AnswerChecker* c, const std::vector<uint8_t>& frame) {
  char line[1000] = "";
  CheckAnswer(c, frame.data(), frame.size(), line, sizeof line);
  return line;
}

}  // namespace

TEST(CameraAnswers, QueriesCarryTheFieldsTheBoxTests) {
  struct Row {
    int mode;
    const char* name;
    const char* frame_text;
  };
  const Row rows[] = {
      {kModeOsmo, "identity-A", "13 04>09 40 00:01 seq=5"},
      {kModeOsmo, "identity-B", "13 01>09 40 00:01 seq=5"},
      {kModeOsmo, "probe-G", "14 04>09 20 04:1C seq=5 | 09"},
      {kModeOsmo, "probe-S", "14 04>09 00 04:28 seq=5 | 01"},
      {kModeOsmo, "probe-U", "14 01>07 40 00:50 seq=5 | 09"},
      {kModeOsmo, "keepalive-K", "15 01>09 40 09:0E seq=5 | 09 00"},
      {kModeInspire, "identity-C", "13 01>09 40 00:01 seq=5"},
      {kModeInspire, "identity-D", "13 04>09 40 00:01 seq=5"},
      {kModeInspire, "probe-P", "14 04>03 20 04:1C seq=5 | 09"},
      {kModeInspire, "keepalive-K2", "15 01>09 40 09:0E seq=5 | 09 00"},
  };
  for (const Row& row : rows) {
    const CameraQuery* q = FindQuery(row.mode, row.name);
    ASSERT_NE(q, nullptr) << row.name;
    uint8_t frame[32];
    // The gimbal state probe is only answered when byte 11 is 1.
    size_t n = BuildQuery(*q, 5, std::strcmp(row.name, "probe-S") == 0 ? 1 : 9, frame);
    char text[200];
    FormatFrame(frame, n, text, sizeof text);
    EXPECT_STREQ(text, row.frame_text) << row.name;
  }
}

TEST(CameraAnswers, NewSequenceAnswerAcceptsAnySequenceWithAValidChecksum) {
  const CameraQuery* d = FindQuery(kModeInspire, "identity-D");
  ASSERT_NE(d, nullptr);
  uint8_t answer[64];
  size_t n = ExpectedAnswer(*d, 0, 0, answer);
  PutU16(answer + 6, 4711);
  PutU16(answer + n - 2, CameraCrc16(answer, n - 2));
  AnswerChecker checker;
  ExpectAnswer(&checker, d, 12, 0, 10.0);
  EXPECT_EQ(Check(&checker, std::vector<uint8_t>(answer, answer + n)), "answer ok identity-D seq=4711 (new)");

  // The same answer with a broken checksum is not the box's stored frame.
  answer[n - 1] ^= 0xFF;
  ExpectAnswer(&checker, d, 13, 0, 10.0);
  EXPECT_EQ(Check(&checker, std::vector<uint8_t>(answer, answer + n)).rfind("answer mismatch identity-D", 0), 0u);
}

TEST(CameraAnswers, WrongSequenceOrPayloadIsAMismatch) {
  const CameraQuery* k = FindQuery(kModeOsmo, "keepalive-K");
  const CameraQuery* g = FindQuery(kModeOsmo, "probe-G");
  AnswerChecker checker;
  // A copied sequence answered with 0.
  ExpectAnswer(&checker, k, 300, 0, 10.0);
  std::string line = Check(&checker, WithCrc(Hex("55 0E 04 66 09 01 00 00 80 09 0E 00")));
  EXPECT_EQ(line.rfind("answer mismatch keepalive-K: expected 14 09>01 80 09:0E seq=300 | 00", 0), 0u) << line;
  // A zero-sequence answer that copied the query's number instead.
  ExpectAnswer(&checker, g, 8, 0, 10.0);
  line = Check(&checker, WithCrc(Hex("55 0E 04 66 09 04 08 00 80 04 1C 06")));
  EXPECT_EQ(line.rfind("answer mismatch probe-G", 0), 0u) << line;
  // The Osmo identity answer where the Inspire one was due: same header fields, other length.
  const CameraQuery* c = FindQuery(kModeInspire, "identity-C");
  ExpectAnswer(&checker, c, 3, 0, 10.0);
  uint8_t b[64];
  size_t n = ExpectedAnswer(*FindQuery(kModeOsmo, "identity-B"), 3, 0, b);
  line = Check(&checker, std::vector<uint8_t>(b, b + n));
  EXPECT_EQ(line.rfind("answer mismatch identity-C", 0), 0u) << line;
  EXPECT_EQ(checker.mismatched, 3);
  EXPECT_EQ(checker.count, 0);
}

TEST(CameraAnswers, CommandFramesAreNotAnswers) {
  AnswerChecker checker;
  ExpectAnswer(&checker, FindQuery(kModeOsmo, "keepalive-K"), 1, 0, 10.0);
  std::vector<uint8_t> iso = WithCrc(Hex("55 0E 04 66 02 01 05 00 40 02 2A 03"));
  char line[200] = "";
  EXPECT_EQ(CheckAnswer(&checker, iso.data(), iso.size(), line, sizeof line), kNotAnAnswer);
  std::vector<uint8_t> junk = Hex("55 0E 04");
  EXPECT_EQ(CheckAnswer(&checker, junk.data(), junk.size(), line, sizeof line), kNotAnAnswer);
  EXPECT_EQ(checker.count, 1);
}

TEST(CameraAnswers, OverdueQueriesAreReportedMissingOnce) {
  AnswerChecker checker;
  ExpectAnswer(&checker, FindQuery(kModeOsmo, "probe-U"), 10, 0, 5.0);
  ExpectAnswer(&checker, FindQuery(kModeOsmo, "keepalive-K"), 11, 0, 6.0);
  char lines[4][160];
  EXPECT_EQ(ExpireAnswers(&checker, 5.5, lines, 4), 1);
  EXPECT_STREQ(lines[0], "answer missing probe-U seq=10");
  EXPECT_EQ(ExpireAnswers(&checker, 5.9, lines, 4), 0);
  EXPECT_EQ(ExpireAnswers(&checker, 6.0, lines, 4), 1);
  EXPECT_STREQ(lines[0], "answer missing keepalive-K seq=11");
  EXPECT_EQ(checker.missing, 2);
  EXPECT_EQ(checker.count, 0);
}
