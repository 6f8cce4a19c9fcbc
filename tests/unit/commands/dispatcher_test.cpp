#include "commands/dispatcher.h"

#include <cstring>
#include <set>
#include <string>

#include "camera/supervision.h"
#include "command_test_support.h"
#include "commands/vocabulary.h"
#include "writable_records.h"

namespace commands_test {
namespace {

// A param for the words whose param the caller gives and no table lists.
const char* SampleParam(const CommandWord& w) {
  if (w.param_choice != nullptr) return w.param_choice(0);
  const std::pair<const char*, const char*> samples[] = {
      {"zoom", "-2"}, {"shutter", "1000"}, {"aperture", "2.8"}, {"ev", "0.3"}};
  for (auto [name, param] : samples) {
    if (std::strcmp(w.cmd, name) == 0) return param;
  }
  return "";
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
    EXPECT_EQ(Logged([&] { RunCommandText(c.text, static_cast<int>(std::strlen(c.text))); }), c.log);
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
  WritableLinkState()->link_up = 0;
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
  Logged([] { RunCommandText(R"({"cmd":"zoom","param":"0","value1":"37"})", 0); });
  Logged([] { RunCommandText(R"({"cmd":"zoom","param":"-1","value1":"5"})", 0); });
  EXPECT_EQ(GetMotionIntent()->zoom_level, 42);
  TextsSoFar(end_);
  Check({R"({"cmd":"zoom","param":"-2","value1":"3"})", "", {}});
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 3);
  Check({R"({"cmd":"zoom","param":"-2","value1":"0"})", "", {}});
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 0);
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
  WritableLinkState()->link_up = 0;
  CheckAll({
      {R"({"cmd":"horizont","param":"calibrate"})", "full calibrate\n", {}},
      {R"({"cmd":"zoomadjustedsmoothtrack","value1":"1"})", "set Zoom Adjusted Smoothtrack to 1\n", {}},
      {R"({"cmd":"focus","param":"mfa","value1":"1"})", "set MF assistant to 1\n", {}},
      {R"({"cmd":"power","param":"sleep"})", "Power set sleep\n", {}},
      {R"({"cmd":"playback","param":"cancel"})", "playback command: cancel\n", {}},
  });
  Check({R"({"cmd":"zoom","param":"-2","value1":"4"})", "", {}});
  EXPECT_EQ(GetMotionIntent()->zoom_speed, 4);
  // The viewer's clock ends the box's clock sync, link up (its frame is a row
  // of the golden command table) or down.
  WritableLinkState()->date_sync_pending = 1;
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

// Every camera word of the vocabulary, built with sample values, is taken by
// the dispatcher: it logs or sends something (or changes the zoom speed).
TEST_F(Dispatcher, EveryVocabularyWordActs) {
  size_t count = 0;
  const CommandWord* words = CommandVocabulary(&count);
  WritableHudState()->focus_mode = 1;
  WritableLinkState()->focus_range = 100;
  for (size_t i = 0; i < count; ++i) {
    const CommandWord& w = words[i];
    if (w.route == nullptr) continue;  // the box's own words have tests of their own
    if (std::strcmp(w.name, "position/moverel") == 0) continue;  // only stores speeds for the RC loop
    const char* param = TakesParam(w) ? SampleParam(w) : nullptr;
    const char* value1 = w.value1_choice != nullptr ? w.value1_choice(0) : "1";
    char text[256];
    ASSERT_GT(BuildCommandText(w, param, value1, "1", text, sizeof text), 0u) << w.name;
    WritableMotionIntent()->zoom_speed = 0;
    std::string log = Logged([&] { RunCommandText(text, 0); });
    auto frames = FramesSoFar(end_);
    EXPECT_TRUE(!log.empty() || !frames.empty() || GetMotionIntent()->zoom_speed != 0) << text;
  }
}

// The texts the vocabulary lists for a camera word come from the table that
// takes them: each makes the camera do more than a text no table lists.
TEST_F(Dispatcher, ListedChoicesAreTheAcceptedOnes) {
  size_t count = 0;
  const CommandWord* words = CommandVocabulary(&count);
  WritableHudState()->focus_mode = 1;  // the camera reports auto focus: "mf" changes it
  int checked = 0;
  for (size_t i = 0; i < count; ++i) {
    const CommandWord& w = words[i];
    const ChoiceList choices = w.param_choice != nullptr ? w.param_choice : w.value1_choice;
    if (w.route == nullptr || choices == nullptr) continue;
    auto frames_for = [&](const char* choice) {
      const bool in_param = w.param_choice != nullptr;
      char text[256];
      // "5600": the custom white balance's temperature.
      EXPECT_GT(BuildCommandText(w, in_param ? choice : nullptr, in_param ? "5600" : choice, nullptr, text,
                                 sizeof text), 0u);
      Logged([&] { RunCommandText(text, 0); });
      return FramesSoFar(end_).size();
    };
    const size_t unlisted = frames_for("no such choice");
    for (size_t k = 0; const char* choice = choices(k); ++k, ++checked) {
      EXPECT_GT(frames_for(choice), unlisted) << w.name << " " << choice;
    }
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace commands_test
