// vb-stream's two tables: how the camera's datagrams become NAL units, and
// how NAL units become RTP packets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../../tools/vb-stream/nal_reassembly.h"
#include "../../../tools/vb-stream/rtp_h264.h"
#include "../../../tools/vb-stream/stream_sdp.h"
#include "common/wire.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

std::string Hex(const uint8_t* data, size_t size) {
  std::string out;
  char byte[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof byte, "%s%02X", i ? " " : "", data[i]);
    out += byte;
  }
  return out;
}

// Each NAL unit handed on, as "NAL | next".
std::vector<std::string> Reassemble(const std::vector<std::string>& datagrams, NalReassembly* r) {
  std::vector<std::string> seen;
  for (const std::string& d : datagrams) {
    const std::vector<uint8_t> bytes = Bytes(d);
    FeedVideoPayload(r, bytes.data(), bytes.size(), [&](NalView nal, NalView next) {
      seen.push_back(Hex(nal.data, nal.size) + " | " + Hex(next.data, next.size));
    });
  }
  return seen;
}

TEST(NalReassembly, DatagramsBecomeNalUnits) {
  struct Row {
    const char* what;
    std::vector<std::string> datagrams;
    std::vector<std::string> units;
  };
  const Row rows[] = {
      {"4-byte start codes; the delimiter behind a picture ends it at once",
       {"00 00 00 01 67 42 C0 1F 00 00 00 01 68 CE 00 00 00 01 65 88 84 00 00 00 01 09 F0"},
       {"67 42 C0 1F | 68 CE", "68 CE | 65 88", "65 88 84 | 09 F0"}},
      {"3-byte start codes",
       {"00 00 01 41 9A 02 00 00 01 09 F0"},
       {"41 9A 02 | 09 F0"}},
      {"a start code split after its first zero",
       {"00 00 01 41 9A 00", "00 01 09 F0"},
       {"41 9A | 09 F0"}},
      {"a start code split after its two zeros",
       {"00 00 01 41 9A 00 00", "01 09 F0"},
       {"41 9A | 09 F0"}},
      {"a NAL unit across three datagrams",
       {"00 00 01 65 11", "22 33", "44 00 00 01 09 F0"},
       {"65 11 22 33 44 | 09 F0"}},
      {"bytes before the first start code (joined mid-stream) are dropped",
       {"12 34 56 00 00 01 41 9A", "00 00 01 09 F0"},
       {"41 9A | 09 F0"}},
      {"zero padding after a NAL unit is not part of it",
       {"00 00 01 41 9A 00 00 00 00 00 00 01 09 F0"},
       {"41 9A | 09 F0"}},
      {"a slice waits for the byte that says whether it starts a picture",
       {"00 00 01 41 9A 00 00 01 41", "E2 55"},
       {"41 9A | 41 E2"}},
      {"a header-only unit ahead is enough to decide",
       {"00 00 01 41 9A 00 00 01 0A 00 00 01 41"},
       {"41 9A | 0A"}},
      {"two start codes in a row make no empty unit",
       {"00 00 01 00 00 01 41 9A 00 00 01 09 F0"},
       {"41 9A | 09 F0"}},
      {"a NAL unit stays open until the next start code",
       {"00 00 01 65 88 84 21"},
       {}},
  };
  for (const Row& row : rows) {
    NalReassembly r;
    EXPECT_EQ(Reassemble(row.datagrams, &r), row.units) << row.what;
  }
}

TEST(NalReassembly, AnOverlongUnitIsDroppedAndTheNextOneComesThrough) {
  NalReassembly r;
  std::vector<std::string> seen;
  const auto sink = [&](NalView nal, NalView) { seen.push_back(Hex(nal.data, nal.size)); };
  const std::vector<uint8_t> head = Bytes("00 00 01 65");
  FeedVideoPayload(&r, head.data(), head.size(), sink);
  const std::vector<uint8_t> filler(64 * 1024, 0x5A);
  for (size_t sent = 0; sent <= kMaxNalSize; sent += filler.size()) {
    FeedVideoPayload(&r, filler.data(), filler.size(), sink);
  }
  EXPECT_EQ(r.overlong, 1u);
  EXPECT_LT(r.bytes.size(), 16u);  // nothing of it is held
  const std::vector<uint8_t> next = Bytes("00 00 01 41 9A 00 00 01 09 F0");
  FeedVideoPayload(&r, next.data(), next.size(), sink);
  EXPECT_EQ(seen, std::vector<std::string>{"41 9A"});
}

struct Packet {
  bool marker;
  uint16_t sequence;
  uint32_t timestamp;
  std::string payload;  // hex
};

std::vector<Packet> Packetize(RtpH264Stream* s, const std::string& nal_hex, const std::string& next_hex,
                              uint32_t clock) {
  std::vector<Packet> out;
  const std::vector<uint8_t> nal = Bytes(nal_hex), next = Bytes(next_hex);
  PacketizeNal(s, {nal.data(), nal.size()}, {next.data(), next.size()}, clock, [&](const uint8_t* p, size_t n) {
    EXPECT_EQ(p[0], 0x80);
    EXPECT_EQ(p[1] & 0x7F, kRtpPayloadType);
    EXPECT_EQ(GetU32BigEndian(p + 8), 0xABCD0123u);
    EXPECT_LE(n, kRtpHeaderSize + kRtpMaxPayload);
    out.push_back({(p[1] & 0x80) != 0, GetU16BigEndian(p + 2), GetU32BigEndian(p + 4),
                   Hex(p + kRtpHeaderSize, n - kRtpHeaderSize)});
  });
  return out;
}

TEST(RtpH264, NalUnitsBecomePackets) {
  struct Step {
    const char* nal;
    const char* next;
    uint32_t clock;
    std::vector<std::string> packets;  // "M" for the marker bit, then @timestamp and the payload
  };
  struct Row {
    const char* what;
    std::vector<Step> steps;
  };
  auto P = [](bool marker, uint32_t ts, const char* payload) {
    return std::string(marker ? "M" : "-") + "@" + std::to_string(ts) + " " + payload;
  };
  const Row rows[] = {
      {"a picture's units share its timestamp; its last slice carries the marker",
       {{"67 42 C0 1F", "68 CE", 900, {P(false, 900, "67 42 C0 1F")}},
        {"68 CE", "65 88", 950, {P(false, 900, "68 CE")}},
        {"65 88 84", "09 F0", 990, {P(true, 900, "65 88 84")}},
        {"41 9A 02", "09 F0", 4000, {P(true, 4000, "41 9A 02")}}}},
      {"an IDR picture without its parameter sets gets the latest ones ahead of it",
       {{"67 42 C0 1F", "68 CE", 10, {P(false, 10, "67 42 C0 1F")}},
        {"68 CE", "65 88", 10, {P(false, 10, "68 CE")}},
        {"65 88", "09 F0", 10, {P(true, 10, "65 88")}},
        {"65 88 99", "09 F0", 3010,
         {P(false, 3010, "67 42 C0 1F"), P(false, 3010, "68 CE"), P(true, 3010, "65 88 99")}},
        {"41 9A", "09 F0", 6010, {P(true, 6010, "41 9A")}}}},
      {"slices of one picture: the marker only after the last",
       {{"41 9A", "41 1F", 100, {P(false, 100, "41 9A")}},
        {"41 1F", "41 9B", 120, {P(true, 100, "41 1F")}},
        {"41 9B", "09 F0", 200, {P(true, 200, "41 9B")}}}},
      {"two pictures within one clock tick still get two timestamps",
       {{"41 9A", "41 9B", 500, {P(true, 500, "41 9A")}}, {"41 9B", "09 F0", 500, {P(true, 501, "41 9B")}}}},
      {"delimiters, fillers, stream ends and types RTP keeps for itself are not sent",
       {{"09 F0", "41 9A", 1, {}}, {"0C FF FF", "41 9A", 1, {}}, {"0B", "41 9A", 1, {}}, {"7C 85 00", "41 9A", 1, {}},
        {"00 12", "41 9A", 1, {}},
        {"41 9A", "09 F0", 2, {P(true, 2, "41 9A")}}}},
      {"a picture whose end went unseen ends when the next begins",
       {{"41 9A", "0C FF", 100, {P(false, 100, "41 9A")}},
        {"41 9B", "09 F0", 400, {P(true, 400, "41 9B")}}}},
  };
  for (const Row& row : rows) {
    RtpH264Stream s;
    s.ssrc = 0xABCD0123;
    s.sequence = 65534;  // wraps within the row
    uint16_t expected_sequence = 65534;
    for (const Step& step : row.steps) {
      std::vector<std::string> got;
      for (const Packet& p : Packetize(&s, step.nal, step.next, step.clock)) {
        got.push_back(P(p.marker, p.timestamp, p.payload.c_str()));
        EXPECT_EQ(p.sequence, expected_sequence++) << row.what;
      }
      EXPECT_EQ(got, step.packets) << row.what << ": " << step.nal;
    }
  }
}

TEST(RtpH264, ALongUnitGoesAsFuAFragmentsThatRebuildIt) {
  std::vector<uint8_t> idr(3000);
  for (size_t i = 0; i < idr.size(); ++i) idr[i] = static_cast<uint8_t>(i * 7 + 1);
  idr[0] = 0x65;  // NRI 3, type 5
  RtpH264Stream s;
  std::vector<std::vector<uint8_t>> packets;
  const uint8_t aud[] = {0x09, 0xF0};
  PacketizeNal(&s, {idr.data(), idr.size()}, {aud, 2}, 0,
               [&](const uint8_t* p, size_t n) { packets.emplace_back(p, p + n); });
  ASSERT_EQ(packets.size(), 3u);
  std::vector<uint8_t> rebuilt = {static_cast<uint8_t>((packets[0][12] & 0xE0) | (packets[0][13] & 0x1F))};
  for (size_t i = 0; i < packets.size(); ++i) {
    const std::vector<uint8_t>& p = packets[i];
    EXPECT_EQ(p[12], 0x7C) << i;  // NRI 3, type 28
    EXPECT_EQ(p[13], (i == 0 ? 0x80 : 0) | (i == 2 ? 0x40 : 0) | 5) << i;
    EXPECT_EQ((p[1] & 0x80) != 0, i == 2) << i;
    rebuilt.insert(rebuilt.end(), p.begin() + 14, p.end());
  }
  EXPECT_EQ(rebuilt, idr);
}

TEST(StreamSdp, NamesTheTargetAndTheParameterSets) {
  const std::vector<uint8_t> sps = Bytes("67 42 C0 1F DA"), pps = Bytes("68 CE 3C 80");
  const std::string sdp = StreamSdp("192.168.1.20", 5600, sps, pps);
  for (const char* line :
       {"c=IN IP4 192.168.1.20\r\n", "m=video 5600 RTP/AVP 96\r\n", "a=rtpmap:96 H264/90000\r\n",
        "a=fmtp:96 packetization-mode=1;profile-level-id=42c01f;sprop-parameter-sets=Z0LAH9o=,aM48gA==\r\n"}) {
    EXPECT_NE(sdp.find(line), std::string::npos) << line << " in\n" << sdp;
  }
  EXPECT_NE(StreamSdp("10.0.0.1", 5000, {}, {}).find("a=fmtp:96 packetization-mode=1\r\n"), std::string::npos);
}

}  // namespace
