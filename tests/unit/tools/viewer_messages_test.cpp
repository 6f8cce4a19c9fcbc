// The viewer stand-in: one line per box message, and the bytes of what it sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../../tools/vb-viewer/decode.h"
#include "../../../tools/vb-viewer/requests.h"

namespace {

std::string Line(const std::vector<uint8_t>& payload) {
  char out[4096];
  FormatClientMessage(payload.data(), payload.size(), out, sizeof out);
  return out;
}

}  // namespace

TEST(ViewerMessages, EachTypeDecodesToItsLine) {
  struct Row {
    std::vector<uint8_t> payload;
    const char* line;
  };
  const Row rows[] = {
      {{6, 0x11, 1, 0, 0, 0, 0}, "status flags=0x11 clients=1 rc=0 fa=0 ap=0 hdmi=0 camera=1 b6=0 b7=0"},
      {{6, 0xC7, 20, 0, 1, 6, 0}, "status flags=0xC7 clients=20 rc=6 fa=1 ap=1 hdmi=1 camera=0 b6=1 b7=1"},
      {{5, 0, 2, 0, 0, 0, 0}, "link data state=2"},
      {{5, 1, 0, 0, 0, 0, 0}, "link video state=0"},
      {{0, 0xD2, 0x04, 0x0C, 0xFE, 0, 0}, "attitude pan=12.34 tilt=-5.00 dutch=0.00"},
      {{10, 0xFF, 0xFF, 0x00, 0x80, 0x5B, 0x01}, "attitude-raw p=-1 t=-32768 d=347"},
      {{3, 40, 0, 0, 0, 0, 0}, "zoom digital=40"},
      {{8, 1, 0, 0, 0, 0, 0}, "orientation locked=1"},
      {{12, 3, 0, 50, 0, 0x96, 0}, "focus mode=1 flag=1 percent=50 value=1.50"},
      {{13, 0x88, 0x13, 0xFE, 0xFF, 2, 0}, "focus-point x=0.5000 y=-0.0002 assist=2"},
      {{16, 1, 0, 0, 0, 0, 0}, "focus-bytes 01 00 00 00 00 00"},
      {{'{', '"', 'a', '"', ':', '\r', '\n', '1', '}'}, "json {\"a\":  1}"},
      {{99, 1, 2}, "msg type=99 len=3 | 63 01 02"},
      // Too short for its type: the bytes, never a read past them.
      {{6, 0x11}, "short type=6 len=2 | 06 11"},
      {{2, 1, 2, 3}, "short type=2 len=4 | 02 01 02 03"},
      {{15, 6, 32, 0xDC, 0x05}, "rc status=6 n=32 ch=1500"},
  };
  for (const Row& row : rows) EXPECT_EQ(Line(row.payload), row.line);
}

TEST(ViewerMessages, RecordsShowTheirFields) {
  std::vector<uint8_t> settings(31, 0);
  settings[0] = 2;
  settings[5] = static_cast<uint8_t>(-17);   // -1.7 EV
  settings[12] = 0x64;                        // shutter 1/100
  settings[13] = 0x80;
  settings[17] = 0x18;                        // f/2.80
  settings[18] = 0x01;
  settings[25] = 4;
  EXPECT_EQ(Line(settings).rfind("settings shutter=1/100 (0x008064) aperture=2.80 ev=-1.7 format=0,0 shot=4/0", 0), 0u)
      << Line(settings);

  std::vector<uint8_t> status(24, 0);
  status[0] = 7;
  status[1] = 1;
  status[2] = 0x80;
  EXPECT_EQ(Line(status).rfind("camera-status work_mode=1 flags=0x80 recording=1 ", 0), 0u) << Line(status);
  status[2] = 0x40;
  EXPECT_EQ(Line(status).rfind("camera-status work_mode=1 flags=0x40 recording=0 ", 0), 0u) << Line(status);
}

TEST(ViewerMessages, ShutterCodes) {
  struct Row {
    uint32_t code;
    const char* text;
  };
  const Row rows[] = {{0x8064, "1/100"}, {0x20003, "3.2"}, {0x198001, "1/1.25"}, {0x58002, "1/2.5"}, {30, "30"}};
  for (const Row& row : rows) {
    char out[32];
    FormatShutterCode(row.code, out, sizeof out);
    EXPECT_STREQ(out, row.text);
  }
}

TEST(ViewerRequests, GimbalControlPayload) {
  uint8_t p[8];
  ASSERT_TRUE(BuildGimbalPayload("1,-32768,32767", p));
  EXPECT_EQ(std::vector<uint8_t>(p, p + 8), (std::vector<uint8_t>{5, 1, 0x00, 0x80, 0xFF, 0x7F, 0, 0}));
  ASSERT_TRUE(BuildGimbalPayload("2, -3, 1", p));
  EXPECT_EQ(std::vector<uint8_t>(p, p + 8), (std::vector<uint8_t>{5, 2, 0xFD, 0xFF, 1, 0, 0, 0}));
  for (const char* bad : {"1,2", "1,2,3,4", "256,0,0", "-1,0,0", "0,32768,0", "0,1.5,0", "0,x,0", "", "0,nan,0"})
    EXPECT_FALSE(BuildGimbalPayload(bad, p)) << bad;
}

TEST(ViewerRequests, AttitudePayloadScalesAndClamps) {
  uint8_t p[11];
  ASSERT_TRUE(BuildAttitudePayload("1,-1,0,0.5", p));
  EXPECT_EQ(std::vector<uint8_t>(p, p + 11),
            (std::vector<uint8_t>{6, 0, 0, 0xFF, 0x7F, 0x01, 0x80, 0, 0, 0x00, 0x40}));
  ASSERT_TRUE(BuildAttitudePayload("2,-2,1e9,-1e9", p));  // kept inside 16 bits
  EXPECT_EQ(std::vector<uint8_t>(p + 3, p + 11),
            (std::vector<uint8_t>{0xFF, 0x7F, 0x00, 0x80, 0xFF, 0x7F, 0x00, 0x80}));
  for (const char* bad : {"1,0,0", "nan,0,0,0", "inf,0,0,0", "1,0,0,0,0", "a,b,c,d"})
    EXPECT_FALSE(BuildAttitudePayload(bad, p)) << bad;
}

TEST(ViewerRequests, DatagramFraming) {
  uint8_t payload[2];
  size_t n = BuildConnectPayload(true, payload);
  uint8_t d[32];
  size_t len = BuildViewerDatagram(0x01020304, payload, n, d, sizeof d);
  EXPECT_EQ(std::vector<uint8_t>(d, d + len),
            (std::vector<uint8_t>{'B', 0, 0, 0, 4, 3, 2, 1, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(BuildViewerDatagram(0, payload, 21, d, sizeof d), 0u);  // does not fit
}
