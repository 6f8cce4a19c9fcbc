#include <functional>

#include "command_test_support.h"
#include "commands/picture_settings.h"

namespace commands_test {
namespace {

struct SettingCase {
  const char* what;
  std::function<void()> call;
  const char* log;
  std::vector<std::string> frames;
};

class PictureSettings : public CommandTest {
 protected:
  void Check(const SettingCase& c) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Logged(c.call), c.log);
    EXPECT_EQ(TextsSoFar(end_), c.frames);
  }
};

TEST_F(PictureSettings, ExposureMetering) {
  const SettingCase cases[] = {
      {"point 5", [] { SetExposureMetering("point", "5"); },
       "set auto exposure off\nset exposure point 5\n", {"14 02>01 40 02:68 | 00", "14 02>01 40 02:32 | 05"}},
      {"point 300 keeps its low byte", [] { SetExposureMetering("point", "300"); },
       "set auto exposure off\nset exposure point 44\n", {"14 02>01 40 02:68 | 00", "14 02>01 40 02:32 | 2C"}},
      {"point -1", [] { SetExposureMetering("point", "-1"); },
       "set auto exposure off\nset exposure point 255\n", {"14 02>01 40 02:68 | 00", "14 02>01 40 02:32 | FF"}},
      {"center", [] { SetExposureMetering("center", ""); },
       "set auto exposure off\nset exposure to center\n", {"14 02>01 40 02:68 | 00", "14 02>01 40 02:22 | 00"}},
      {"auto lock", [] { SetExposureMetering("auto", "lock"); }, "set auto exposure locked\n", {"14 02>01 40 02:68 | 01"}},
      {"auto unlock", [] { SetExposureMetering("auto", "unlock"); }, "set auto exposure unlocked\n",
       {"14 02>01 40 02:68 | 00"}},
      {"auto without lock word", [] { SetExposureMetering("auto", "Lock"); }, "", {}},
      {"unknown", [] { SetExposureMetering("spot", "1"); }, "", {}},
  };
  for (const SettingCase& c : cases) Check(c);
}

TEST_F(PictureSettings, ColorProfiles) {
  const std::pair<const char*, const char*> table[] = {
      {"d-log", "17"}, {"d-cinelike", "06"}, {"none", "00"},  {"art", "01"},     {"black white", "04"}, {"vivid", "05"},
      {"beach", "0E"}, {"dream", "10"},      {"classic", "12"}, {"nostalgia", "13"}, {"portrait", "07"}};
  for (auto [name, code] : table) {
    Check({name, [name = name] { SetColorProfile(name); }, (std::string("set color ") + name + "\n").c_str(),
           {std::string("14 02>01 40 02:42 | ") + code}});
  }
  Check({"sepia", [] { SetColorProfile("sepia"); }, "set color sepia\n", {}});
  Check({"case matters", [] { SetColorProfile("Vivid"); }, "set color Vivid\n", {}});
}

TEST_F(PictureSettings, ImageScenes) {
  const SettingCase cases[] = {
      {"standard", [] { SetImageScene("standard"); }, "set image scene standard\n",
       {"23 02>01 40 00:05 | 03 3A 01 00 3C 01 00 38 01 00"}},
      {"scenery", [] { SetImageScene("scenery"); }, "set image scene scenery\n",
       {"23 02>01 40 00:05 | 03 3A 01 01 3C 01 00 38 01 01"}},
      {"soft", [] { SetImageScene("soft"); }, "set image scene soft\n", {"23 02>01 40 00:05 | 03 3A 01 00 3C 01 00 38 01 FF"}},
      {"custom", [] { SetImageScene("custom"); }, "set image scene custom\n",
       {"23 02>01 40 00:05 | 03 3A 01 01 3C 01 00 38 01 00"}},
      {"unknown", [] { SetImageScene("night"); }, "set image scene night\n", {}},
  };
  for (const SettingCase& c : cases) Check(c);
}

TEST_F(PictureSettings, WhiteBalance) {
  const SettingCase cases[] = {
      {"auto", [] { SetWhiteBalance("auto", ""); }, "set wb auto \n", {"15 02>01 40 02:2C | 00 44"}},
      {"sunny", [] { SetWhiteBalance("sunny", ""); }, "set wb sunny \n", {"15 02>01 40 02:2C | 01 30"}},
      {"cloudy", [] { SetWhiteBalance("cloudy", ""); }, "set wb cloudy \n", {"15 02>01 40 02:2C | 02 40"}},
      {"incandescent", [] { SetWhiteBalance("incandescent", ""); }, "set wb incandescent \n", {"15 02>01 40 02:2C | 04 44"}},
      {"neon", [] { SetWhiteBalance("neon", ""); }, "set wb neon \n", {"15 02>01 40 02:2C | 05 19"}},
      {"custom 2000", [] { SetWhiteBalance("custom", "2000"); }, "set wb custom 2000\n", {"15 02>01 40 02:2C | 06 14"}},
      {"custom 1999 as 2000", [] { SetWhiteBalance("custom", "1999"); }, "set wb custom 1999\n", {"15 02>01 40 02:2C | 06 14"}},
      {"custom 1901 still 2000", [] { SetWhiteBalance("custom", "1901"); }, "set wb custom 1901\n", {"15 02>01 40 02:2C | 06 14"}},
      {"custom 5600", [] { SetWhiteBalance("custom", "5600"); }, "set wb custom 5600\n", {"15 02>01 40 02:2C | 06 38"}},
      {"custom 1900 below range", [] { SetWhiteBalance("custom", "1900"); }, "set wb custom 1900\n", {}},
      {"custom lowest integer", [] { SetWhiteBalance("custom", "-99999999999999"); }, "set wb custom -99999999999999\n", {}},
      // Saturated to 2147483647 K: (2147483647 - 2000) / 100 + 20 = 21474836 = 0x147AE14.
      {"custom huge keeps low byte", [] { SetWhiteBalance("custom", "99999999999999"); }, "set wb custom 99999999999999\n",
       {"15 02>01 40 02:2C | 06 14"}},
      {"unknown", [] { SetWhiteBalance("shade", "5000"); }, "set wb shade 5000\n", {}},
  };
  for (const SettingCase& c : cases) Check(c);
}

TEST_F(PictureSettings, ShotTypes) {
  const std::pair<const char*, std::string> single[] = {
      {"shot", "01 01 00 01 00 00"}, {"10s", "06 01 00 01 0A 00"}, {"hdr", "02 01 00 01 00 00"}};
  for (auto& [v, payload] : single) {
    Check({v, [v = v] { SetShotType("single", v, ""); }, (std::string("set shot type single ") + v + "\n").c_str(),
           {"19 02>01 40 02:6A | " + payload}});
  }
  const std::pair<const char*, std::string> multiple[] = {{"3shots", "04 03 00 03 01 00"}, {"5shots", "04 05 00 05 01 00"},
                                                          {"7shots", "04 07 00 07 01 00"}, {"aeb3", "05 03 00 03 01 00"},
                                                          {"aeb5", "05 05 00 05 01 00"}};
  for (auto& [v, payload] : multiple) {
    Check({v, [v = v] { SetShotType("multiple", v, ""); }, (std::string("set shot type multiple ") + v + "\n").c_str(),
           {"19 02>01 40 02:6A | " + payload}});
  }
  Check({"interval 10s", [] { SetShotType("interval", "10s", ""); }, "set shot type interval 10s\n",
         {"19 02>01 40 02:6A | 06 FF 00 FF 0A 00"}});
  Check({"interval 30s", [] { SetShotType("interval", "30s", ""); }, "set shot type interval 30s\n",
         {"19 02>01 40 02:6A | 06 FF 00 FF 1E 00"}});
  const std::pair<const char*, const char*> pano[] = {
      {"180", "05"}, {"360", "01"}, {"180self", "03"}, {"manual", "04"}, {"grid", "07"}};
  for (auto [v, kind] : pano) {
    Check({v, [v = v] { SetShotType("pano", v, ""); }, (std::string("set shot type pano ") + v + "\n").c_str(),
           {"19 02>01 40 02:6A | 07 FF 00 FF 0A 00", std::string("14 02>01 40 02:6E | ") + kind}});
  }
  Check({"pano 720", [] { SetShotType("pano", "720", ""); }, "set shot type pano 720\n", {}});
  Check({"single with a pano word", [] { SetShotType("single", "360", ""); }, "set shot type single 360\n", {}});
}

TEST_F(PictureSettings, TimelapseTakesValuesOrTheCameraDefaults) {
  Check({"3 s for 60 s", [] { SetShotType("timelapse", "3", "60"); },
         "set shot type timelapse 3\nset timelapse interval 3 duration 60\n",
         {"19 02>01 40 02:6A | 06 FF 02 FF 32 00", "28 02>01 40 02:6C | 01 04 00 1E 00 3C 00 00 00 F9 FF 00 00 00 00"}});

  GetHudState()->timelapse_interval = 5;
  GetHudState()->timelapse_duration = 1200;
  Check({"camera-reported", [] { SetShotType("timelapse", "-1", "-1"); },
         "set shot type timelapse -1\nset timelapse interval 5 duration 1200\n",
         {"19 02>01 40 02:6A | 06 FF 02 FF 32 00", "28 02>01 40 02:6C | 01 04 00 32 00 B0 04 00 00 F9 FF 00 00 00 00"}});
  Check({"only the duration reported", [] { SetShotType("timelapse", "2", "-1"); },
         "set shot type timelapse 2\nset timelapse interval 2 duration 1200\n",
         {"19 02>01 40 02:6A | 06 FF 02 FF 32 00", "28 02>01 40 02:6C | 01 04 00 14 00 B0 04 00 00 F9 FF 00 00 00 00"}});
  // 2147483647 x 10 keeps its low 16 bits (0xFFF6) without overflowing.
  Check({"huge values", [] { SetShotType("timelapse", "1e99999999999", "99999999999"); },
         "set shot type timelapse 1e99999999999\nset timelapse interval 1 duration 2147483647\n",
         {"19 02>01 40 02:6A | 06 FF 02 FF 32 00", "28 02>01 40 02:6C | 01 04 00 0A 00 FF FF 00 00 F9 FF 00 00 00 00"}});
  Check({"saturated interval", [] { SetShotType("timelapse", "99999999999", "0"); },
         "set shot type timelapse 99999999999\nset timelapse interval 2147483647 duration 0\n",
         {"19 02>01 40 02:6A | 06 FF 02 FF 32 00", "28 02>01 40 02:6C | 01 04 00 F6 FF 00 00 00 00 F9 FF 00 00 00 00"}});
}

TEST_F(PictureSettings, FixedChoices) {
  const SettingCase cases[] = {
      {"histogram on", [] { SetHistogram("1"); }, "", {"14 02>01 40 02:60 | 01"}},
      {"histogram off", [] { SetHistogram("0"); }, "", {"14 02>01 40 02:60 | 00"}},
      {"histogram other", [] { SetHistogram("on"); }, "", {}},
      {"anti-flicker auto", [] { SetAntiFlicker("auto"); }, "set anti-flicker auto\n", {"14 02>01 40 02:46 | 00"}},
      {"anti-flicker 50", [] { SetAntiFlicker("50"); }, "set anti-flicker 50\n", {"14 02>01 40 02:46 | 01"}},
      {"anti-flicker 60", [] { SetAntiFlicker("60"); }, "set anti-flicker 60\n", {"14 02>01 40 02:46 | 02"}},
      {"anti-flicker other", [] { SetAntiFlicker("100"); }, "set anti-flicker 100\n", {}},
      {"NTSC twice", [] { SetVideoStandard("NTSC"); }, "set video standard NTSC\n",
       {"14 02>01 40 02:66 | 01", "14 02>01 40 02:66 | 01"}},
      {"standard other", [] { SetVideoStandard("pal"); }, "set video standard pal\n", {}},
      {"calibrate focus", [] { CalibrateFocus(); }, "calibrate focus\n", {"16 02>01 40 02:A4 | 01 01 00"}},
      {"format microSD", [] { FormatMicroSd(); }, "format microSD card\n", {"13 02>01 40 02:72"}},
      {"format SSD", [] { FormatSsd(); }, "format SSD card\n", {"14 02>01 40 02:A1 | 00", "14 02>07 80 00:0E | 00"}},
  };
  for (const SettingCase& c : cases) Check(c);
}

TEST_F(PictureSettings, PalGoesOutTwiceWithConsecutiveSequenceNumbers) {
  EXPECT_EQ(Logged([] { SetVideoStandard("PAL"); }), "set video standard PAL\n");
  auto frames = FramesSoFar(end_);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(FrameText(frames[0]), "14 02>01 40 02:66 | 00");
  EXPECT_EQ(frames[0].raw.size(), frames[1].raw.size());
  EXPECT_EQ(frames[1].sequence, static_cast<uint16_t>(frames[0].sequence + 1));
}

TEST_F(PictureSettings, AspectRatioRestartsTheDisplayAfterTheFrame) {
  Check({"4:3", [] { SetVideoAspect("4:3"); }, "set image aspect ratio 4:3\n", {"15 02>01 40 02:12 | 00 00"}});
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"killall -q display &"});
  Check({"16:9", [] { SetVideoAspect("16:9"); }, "set image aspect ratio 16:9\n", {"15 02>01 40 02:12 | 00 01"}});
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"killall -q display &"});
  Check({"21:9", [] { SetVideoAspect("21:9"); }, "set image aspect ratio 21:9\n", {}});
  EXPECT_TRUE(ShellTakeLog().empty());
}

TEST_F(PictureSettings, LinkDownLogsAndRunsTheShellCommandButSendsNothing) {
  GetCameraLink()->link_up = 0;
  EXPECT_EQ(Logged([] { SetVideoAspect("16:9"); }), "set image aspect ratio 16:9\n");
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"killall -q display &"});
  EXPECT_EQ(Logged([] { SetShotType("timelapse", "3", "60"); }),
            "set shot type timelapse 3\nset timelapse interval 3 duration 60\n");
  EXPECT_EQ(Logged([] { SetExposureMetering("point", "7"); }), "set auto exposure off\nset exposure point 7\n");
  EXPECT_EQ(Logged([] { FormatSsd(); }), "format SSD card\n");
  EXPECT_TRUE(TextsSoFar(end_).empty());
}

}  // namespace
}  // namespace commands_test
