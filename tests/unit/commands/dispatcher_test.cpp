#include "commands/dispatcher.h"

#include <cstring>
#include <set>
#include <string>

#include "camera/supervision.h"
#include "command_test_support.h"
#include "commands/vocabulary.h"

namespace commands_test {
namespace {

// A param from each group's list for the words whose param the caller gives.
const char* SampleParam(const char* cmd) {
  const std::pair<const char*, const char*> samples[] = {
      {"zoom", "-2"},       {"color", "vivid"},  {"scene", "soft"},        {"wb", "sunny"},
      {"shot", "jpg"},      {"shotmode", "raw"}, {"hystogram", "1"},       {"video_mode", "auto"},
      {"shutter", "1000"},  {"aperture", "2.8"}, {"iso", "400"},           {"ev", "0.3"},
      {"video_resolution", "1920x1080@30"},      {"video_aspect", "16:9"}, {"video_std", "NTSC"},
      {"antiflicker", "50"}, {"power", "wakeup"}};
  for (auto [name, param] : samples) {
    if (std::strcmp(cmd, name) == 0) return param;
  }
  return "";
}

// The first choice of a hint such as "lock|unlock", else 1.
std::string SampleValue(const char* hint) {
  if (hint == nullptr || std::strchr(hint, '|') == nullptr) return "1";
  return std::string(hint, std::strchr(hint, '|'));
}

struct DispatchCase {
  const char* text;
  const char* log;
  std::vector<std::string> frames;
};

class Dispatcher : public CommandTest {
 protected:
  void Check(const DispatchCase& c) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Logged([&] { DispatchCameraCommand(c.text, static_cast<int>(std::strlen(c.text))); }), c.log);
    EXPECT_EQ(TextsSoFar(end_), c.frames);
  }
  void CheckAll(std::initializer_list<DispatchCase> cases) {
    for (const DispatchCase& c : cases) Check(c);
  }
};

TEST_F(Dispatcher, OrientationOnlyChangesTheWantedLock) {
  Check({R"({"cmd":"orientation","param":"lock"})", "set orientation lock\n", {}});
  EXPECT_EQ(GetMotionIntent()->orientation_lock_wanted, 1);
  Check({R"({"cmd":"orientation","param":"unlock"})", "set orientation unlock\n", {}});
  EXPECT_EQ(GetMotionIntent()->orientation_lock_wanted, 0);
  GetLinkState()->link_up = 0;
  Check({R"({"cmd":"orientation","param":"lock"})", "set orientation lock\n", {}});
  EXPECT_EQ(GetMotionIntent()->orientation_lock_wanted, 1);
}

TEST_F(Dispatcher, RelativeMoveStoresTheSpeedsForTheRcLoop) {
  // Tilt is inverted; the gimbal is always left marked moving.
  Check({R"({"cmd":"position","param":"moverel","value1":"30","value2":"40"})", "", {}});
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 30);
  EXPECT_EQ(GetMotionIntent()->tilt_speed_wanted, -40);
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 0);
  Check({R"({"cmd":"position","param":"moverel","value1":"0","value2":"0"})", "",
         {"20 02>04 40 04:0C | 00 00 00 00 00 00 90"}});
  EXPECT_EQ(GetMotionIntent()->gimbal_stopped, 0);
  // Non-text values count as 0; the lowest integer negates without overflow.
  Check({R"({"cmd":"position","param":"moverel","value1":[1],"value2":"-99999999999"})", "", {}});
  EXPECT_EQ(GetMotionIntent()->pan_speed_wanted, 0);
  EXPECT_EQ(GetMotionIntent()->tilt_speed_wanted, 2147483647);
}

TEST_F(Dispatcher, ZoomKeepsTheLevelAndTheSpeed) {
  Logged([] { DispatchCameraCommand(R"({"cmd":"zoom","param":"0","value1":"37"})", 0); });
  Logged([] { DispatchCameraCommand(R"({"cmd":"zoom","param":"-1","value1":"5"})", 0); });
  EXPECT_EQ(GetMotionIntent()->zoom_level, 42);
  TextsSoFar(end_);
  Check({R"({"cmd":"zoom","param":"-2","value1":"3"})", "", {}});
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 3);
  Check({R"({"cmd":"zoom","param":"-2","value1":"0"})", "", {}});
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 0);
}

TEST_F(Dispatcher, TheViewersClockEndsTheBoxsClockSync) {
  GetLinkState()->date_sync_pending = 1;
  Check({R"({"cmd":"time","value1":"20240131235958"})", "", {"20 02>01 40 02:54 | E8 07 01 1F 17 3B 3A"}});
  EXPECT_EQ(GetLinkState()->date_sync_pending.load(), 0);
}

TEST_F(Dispatcher, PlaybackLogsAnyTextBeforeRunningIt) {
  Check({R"({"cmd":"playback","param":"rewind"})", "playback command: rewind\n", {}});
  Check({R"({"cmd":"playback"})", "playback command: \n", {}});
}

TEST_F(Dispatcher, MemberNamesIgnoreCaseValuesDoNot) {
  CheckAll({
      {R"({"CMD":"horizont","Param":"cw"})", "roll horizont clockwise\n", {"14 02>04 40 04:07 | FD"}},
      {R"({"cmd":"Horizont","param":"cw"})", "", {}},
      {R"({"cmd":"horizont","param":"CW"})", "", {}},
      {R"({"cmd":"horizont ","param":"cw"})", "", {}},
  });
}

TEST_F(Dispatcher, LinkDownLogsAndSetsFlagsButSendsNothing) {
  GetLinkState()->link_up = 0;
  CheckAll({
      {R"({"cmd":"horizont","param":"calibrate"})", "full calibrate\n", {}},
      {R"({"cmd":"zoomadjustedsmoothtrack","value1":"1"})", "set Zoom Adjusted Smoothtrack to 1\n", {}},
      {R"({"cmd":"focus","param":"mfa","value1":"1"})", "set MF assistant to 1\n", {}},
      {R"({"cmd":"power","param":"sleep"})", "Power set sleep\n", {}},
      {R"({"cmd":"playback","param":"cancel"})", "playback command: cancel\n", {}},
  });
  Check({R"({"cmd":"zoom","param":"-2","value1":"4"})", "", {}});
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 4);
  GetLinkState()->date_sync_pending = 1;
  Check({R"({"cmd":"time","value1":"20240131235958"})", "", {}});
  EXPECT_EQ(GetLinkState()->date_sync_pending.load(), 0);
}

TEST_F(Dispatcher, BadInputDoesNothing) {
  const std::string long_text(255, 'x');
  const std::string long_member = R"({"cmd":")" + long_text + R"(","param":")" + long_text + "\"}";
  const std::string long_param = R"({"cmd":"horizont","param":")" + long_text + "\"}";
  const char* texts[] = {
      "",
      "not json",
      "{",
      R"({"cmd":"horizont","param":"c)",
      R"({"cmd":"horizont","param":"cw")",
      R"(["cmd","horizont","param","cw"])",
      R"("horizont")",
      "42",
      "null",
      R"({"cmd":null,"param":"cw"})",
      R"({"cmd":7,"param":"cw"})",
      R"({"cmd":["horizont"],"param":"cw"})",
      R"({"cmd":{"cmd":"horizont"},"param":"cw"})",
      R"({"cmd":"horizont","param":true})",
      R"({"cmd":"","param":"cw"})",
      R"({"param":"cw"})",
      long_member.c_str(),
      long_param.c_str(),
  };
  for (const char* text : texts) Check({text, "", {}});
}

// Every word of the vocabulary, built with sample values, is taken by the
// dispatcher: it logs or sends something (or changes the zoom speed).
TEST_F(Dispatcher, EveryVocabularyWordActs) {
  size_t count = 0;
  const CameraCommandWord* words = CameraVocabulary(&count);
  GetHudState()->focus_mode = 1;
  GetLinkState()->focus_range = 100;
  for (size_t i = 0; i < count; ++i) {
    const CameraCommandWord& w = words[i];
    if (std::strcmp(w.name, "position/moverel") == 0) continue;  // only stores speeds for the RC loop
    const char* param = w.param_hint ? SampleParam(w.cmd) : nullptr;
    const std::string value1 = SampleValue(w.value1_hint);
    char text[256];
    ASSERT_GT(BuildCameraCommand(w, param, value1.c_str(), "1", text, sizeof text), 0u) << w.name;
    GetMotionIntent()->zoom_speed = 0;
    std::string log = Logged([&] { DispatchCameraCommand(text, 0); });
    auto frames = FramesSoFar(end_);
    EXPECT_TRUE(!log.empty() || !frames.empty() || GetMotionIntent()->zoom_speed != 0) << text;
  }
}

}  // namespace
}  // namespace commands_test
