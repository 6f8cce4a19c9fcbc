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

TEST_F(Dispatcher, HorizonRoll) {
  CheckAll({
      {R"({"cmd":"horizont","param":"cw"})", "roll horizont clockwise\n", {"14 02>04 40 04:07 | FD"}},
      {R"({"cmd":"horizont","param":"ccw"})", "roll horizont contr-clockwise\n", {"14 02>04 40 04:07 | 03"}},
      {R"({"cmd":"horizont","param":"zero"})", "roll horizont to zero\n", {"14 02>04 40 04:07 | 00"}},
      {R"({"cmd":"horizont","param":"calibrate"})", "full calibrate\n",
       {"14 02>04 40 04:07 | 00", "21 09>04 20 04:01 | 00 04 00 04 00 04 80 00", "13 02>04 40 04:08"}},
      {R"({"cmd":"horizont","param":"left"})", "", {}},
  });
}

TEST_F(Dispatcher, GimbalParameterFrame) {
  CheckAll({
      {R"({"cmd":"scenemode","param":"walk"})", "set scene mode walk\n", {"21 02>04 40 04:35 | FF FF FF 00 FF FF FF FF"}},
      {R"({"cmd":"scenemode","param":"sport"})", "set scene mode sport\n", {"21 02>04 40 04:35 | FF FF FF 02 FF FF FF FF"}},
      {R"({"cmd":"scenemode","param":"wearable"})", "set scene mode wearable\n",
       {"21 02>04 40 04:35 | FF FF FF 03 FF FF FF FF"}},
      {R"({"cmd":"scenemode","param":"run"})", "", {}},
      {R"({"cmd":"pitch","param":"lock"})", "set pitch lock\n", {"21 02>04 40 04:35 | FF FF FF FF 01 FF FF FF"}},
      {R"({"cmd":"pitch","param":"unlock"})", "set pitch unlock\n", {"21 02>04 40 04:35 | FF FF FF FF 00 FF FF FF"}},
      {R"({"cmd":"zoomadjustedsmoothtrack","value1":"1"})", "set Zoom Adjusted Smoothtrack to 1\n",
       {"21 02>04 40 04:35 | FF FF FF FF FF 01 FF FF"}},
      {R"({"cmd":"zoomadjustedsmoothtrack","value1":"258"})", "set Zoom Adjusted Smoothtrack to 258\n",
       {"21 02>04 40 04:35 | FF FF FF FF FF 02 FF FF"}},
      {R"({"cmd":"zoomadjustedsmoothtrack"})", "set Zoom Adjusted Smoothtrack to 0\n",
       {"21 02>04 40 04:35 | FF FF FF FF FF 00 FF FF"}},
      {R"({"cmd":"focus","param":"realtime","value1":"1"})", "set Real-time AF to 1\n",
       {"21 02>04 40 04:35 | FF FF FF FF FF FF 01 FF"}},
  });
}

TEST_F(Dispatcher, FocusAssistantsKeepTheOtherBit) {
  struct Row {
    uint32_t reported;
    const char* text;
    const char* log;
    const char* frame;
  };
  const Row rows[] = {
      {0, R"({"cmd":"focus","param":"mfa","value1":"1"})", "set MF assistant to 1\n", "14 02>01 40 02:9A | 01"},
      {2, R"({"cmd":"focus","param":"mfa","value1":"1"})", "set MF assistant to 1\n", "14 02>01 40 02:9A | 03"},
      {3, R"({"cmd":"focus","param":"mfa","value1":"0"})", "set MF assistant to 0\n", "14 02>01 40 02:9A | 02"},
      {0, R"({"cmd":"focus","param":"afa","value1":"1"})", "set AF assistant to 1\n", "14 02>01 40 02:9A | 02"},
      {1, R"({"cmd":"focus","param":"afa","value1":"1"})", "set AF assistant to 1\n", "14 02>01 40 02:9A | 03"},
      {3, R"({"cmd":"focus","param":"afa","value1":"0"})", "set AF assistant to 0\n", "14 02>01 40 02:9A | 01"},
      // v x 2 of the largest integer keeps its low byte without overflowing.
      {0, R"({"cmd":"focus","param":"afa","value1":"99999999999"})", "set AF assistant to 2147483647\n",
       "14 02>01 40 02:9A | FE"},
  };
  for (const Row& r : rows) {
    GetCameraLink()->focus_byte42 = r.reported;
    Check({r.text, r.log, {r.frame}});
  }
}

TEST_F(Dispatcher, FocusTypePointAndManual) {
  HudState* hud = GetHudState();
  hud->focus_x = 0.0;
  hud->focus_y = 0.0;
  CheckAll({
      {R"({"cmd":"focus","param":"type","value1":"af"})", "set focus type AF\n",
       {"14 02>01 40 02:24 | 01", "14 02>01 40 02:FA | 00"}},
      {R"({"cmd":"focus","param":"type","value1":"afunlim"})", "set focus type AF unlim\n",
       {"14 02>01 40 02:24 | 01", "14 02>01 40 02:FA | 01"}},
      {R"({"cmd":"focus","param":"type","value1":"MF"})", "", {}},
      // The AF selection always goes before the point: 0.25 and 0.75 as floats.
      {R"({"cmd":"focus","param":"point","value1":"0.25","value2":"0.75"})", "set focus type AF\n",
       {"14 02>01 40 02:24 | 01", "14 02>01 40 02:FA | 00", "21 02>01 40 02:30 | 00 00 80 3E 00 00 40 3F"}},
      // Beyond the float range the point is sent as an infinity.
      {R"({"cmd":"focus","param":"point","value1":"1e300","value2":"-1e300"})", "set focus type AF\n",
       {"14 02>01 40 02:24 | 01", "14 02>01 40 02:FA | 00", "21 02>01 40 02:30 | 00 00 80 7F 00 00 80 FF"}},
  });
  EXPECT_EQ(hud->focus_point_x, 0.5);
  EXPECT_EQ(hud->focus_point_y, 0.5);

  // MF while the camera reports MF sends nothing before the focus position.
  hud->focus_mode = 0;
  GetCameraLink()->focus_range = 1000;
  Check({R"({"cmd":"focus","param":"manual","value1":"50"})", "set manual focus 500 (50.00%)\n",
         {"15 02>01 40 02:95 | F4 01"}});
  hud->focus_mode = 1;
  Check({R"({"cmd":"focus","param":"manual","value1":"10"})", "set focus type MF\nset manual focus 100 (10.00%)\n",
         {"14 02>01 40 02:24 | 00", "15 02>01 40 02:95 | 64 00"}});
}

TEST_F(Dispatcher, OrientationOnlyChangesTheWantedLock) {
  Check({R"({"cmd":"orientation","param":"lock"})", "set orientation lock\n", {}});
  EXPECT_EQ(GetCameraLink()->orientation_lock_wanted, 1);
  Check({R"({"cmd":"orientation","param":"unlock"})", "set orientation unlock\n", {}});
  EXPECT_EQ(GetCameraLink()->orientation_lock_wanted, 0);
  GetCameraLink()->link_up = 0;
  Check({R"({"cmd":"orientation","param":"lock"})", "set orientation lock\n", {}});
  EXPECT_EQ(GetCameraLink()->orientation_lock_wanted, 1);
}

TEST_F(Dispatcher, GimbalPosition) {
  CameraLink* link = GetCameraLink();
  Check({R"({"cmd":"position","param":"move","value1":"10","value2":"-20"})", "",
         {"23 02>04 40 04:0A | 0A 00 00 00 EC FF 64 00 E0 04"}});
  // A member that is not a text makes "move" do nothing at all.
  Check({R"({"cmd":"position","param":"move","value1":10,"value2":"-20"})", "", {}});
  Check({R"({"cmd":"position","param":"move","value1":"10","value2":null})", "", {}});

  // "moverel" stores the speed for the RC loop (tilt inverted) and always leaves the gimbal marked moving.
  Check({R"({"cmd":"position","param":"moverel","value1":"30","value2":"40"})", "", {}});
  EXPECT_EQ(link->pan_speed_wanted, 30);
  EXPECT_EQ(link->tilt_speed_wanted, -40);
  EXPECT_EQ(link->gimbal_stopped, 0);
  Check({R"({"cmd":"position","param":"moverel","value1":"0","value2":"0"})", "",
         {"20 02>04 40 04:0C | 00 00 00 00 00 00 90"}});
  EXPECT_EQ(link->gimbal_stopped, 0);
  // Non-text values count as 0; the lowest integer negates without overflow.
  Check({R"({"cmd":"position","param":"moverel","value1":[1],"value2":"-99999999999"})", "", {}});
  EXPECT_EQ(link->pan_speed_wanted, 0);
  EXPECT_EQ(link->tilt_speed_wanted, 2147483647);

  link->gimbal_stopped = 1;
  const std::string press = "23 09>04 40 01:01 | 00 00 00 00 01 91 00 00 00 90";
  const std::string press_camera = "23 09>01 40 01:01 | 00 00 00 00 01 91 00 00 00 90";
  const std::string release = "23 09>04 40 01:01 | 00 00 00 00 00 91 00 00 00 91";
  const std::string release_camera = "23 09>01 40 01:01 | 00 00 00 00 00 91 00 00 00 91";
  Check({R"({"cmd":"position","param":"normal"})", "set position normal\nset position 0\n",
         {press, press_camera, press, press_camera, release, release_camera, release, release_camera}});
  Check({R"({"cmd":"position","param":"selfie"})", "set position selfie\nset position 1\n",
         {"23 09>04 40 01:01 | 00 00 00 00 10 91 00 00 00 81", "23 09>01 40 01:01 | 00 00 00 00 10 91 00 00 00 81",
          "23 09>04 40 01:01 | 00 00 00 00 10 91 00 00 00 81", "23 09>01 40 01:01 | 00 00 00 00 10 91 00 00 00 81",
          release, release_camera, release, release_camera}});
}

TEST_F(Dispatcher, Zoom) {
  CameraLink* link = GetCameraLink();
  Check({R"({"cmd":"zoom","param":"0","value1":"37"})", "Digital zoom 37%\n", {"18 02>01 40 02:34 | 09 00 00 89 00"}});
  EXPECT_EQ(link->zoom_level, 37);
  Check({R"({"cmd":"zoom","param":"-1","value1":"5"})", "Digital zoom 42%\n", {"18 02>01 40 02:34 | 09 00 00 8E 00"}});
  // The relative step saturates instead of overflowing; the level is clamped to 100.
  Check({R"({"cmd":"zoom","param":"-1","value1":"99999999999"})", "Digital zoom 100%\n",
         {"18 02>01 40 02:34 | 09 00 00 C8 00"}});
  Check({R"({"cmd":"zoom","param":"-2","value1":"3"})", "", {}});
  EXPECT_EQ(link->zoom_speed, 3);
  Check({R"({"cmd":"zoom","param":"-2","value1":"0"})", "", {}});
  EXPECT_EQ(link->zoom_speed, 0);
  Check({R"({"cmd":"zoom","param":"-3","value1":"1"})", "", {"17 02>01 40 02:B8 | 01 48 01 00"}});
  Check({R"({"cmd":"zoom","param":"-3","value1":"-7"})", "", {"17 02>01 40 02:B8 | 01 48 00 00"}});
  Check({R"({"cmd":"zoom","param":"-3","value1":"0"})", "",
         {"17 02>01 40 02:B8 | 00 48 00 00", "17 02>01 40 02:B8 | FF 48 00 00"}});
  EXPECT_EQ(link->optical_zoom_direction, 0);
  // A param that is no number is selector 0: a digital level.
  Check({R"({"cmd":"zoom","param":"in","value1":"11"})", "Digital zoom 11%\n", {"18 02>01 40 02:34 | 09 00 00 6F 00"}});
}

TEST_F(Dispatcher, SingleValueSettings) {
  CheckAll({
      {R"({"cmd":"iso","param":"auto"})", "set iso 0\n", {"14 02>01 40 02:2A | 00"}},
      {R"({"cmd":"iso","param":"100"})", "set iso 100\n", {"14 02>01 40 02:2A | 03"}},
      {R"({"cmd":"iso","param":"6400"})", "set iso 6400\n", {"14 02>01 40 02:2A | 09"}},
      {R"({"cmd":"iso","param":"12800"})", "", {}},
      {R"({"cmd":"iso","param":" 100"})", "", {}},
      {R"({"cmd":"ev","param":"0.7"})", "set EV 0.7\n", {"14 02>01 40 02:2E | 12"}},
      {R"({"cmd":"ev","param":"-3.0"})", "set EV -3.0\n", {"14 02>01 40 02:2E | 07"}},
      {R"({"cmd":"ev","param":"0.66"})", "set EV 0.7\n", {}},
      {R"({"cmd":"ev","param":"0.5"})", "set EV 0.5\n", {}},
      {R"({"cmd":"ev","param":"nan"})", "set EV nan\n", {}},
      {R"({"cmd":"ev","param":"1e999"})", "set EV inf\n", {}},
      {R"({"cmd":"shutter","param":"30s"})", "set shutter 30s\n", {"17 02>01 40 02:28 | 01 1E 00 00"}},
      {R"({"cmd":"shutter","param":"1.25"})", "set shutter 1.25\n", {"17 02>01 40 02:28 | 01 01 80 19"}},
      {R"({"cmd":"shutter","param":"1/8000"})", "set shutter 1/8000\n", {"17 02>01 40 02:28 | 01 00 00 00"}},
      {R"({"cmd":"aperture","param":"2.8"})", "set aperture 2.80\n", {"15 02>01 40 02:26 | 18 01"}},
      {R"({"cmd":"video_mode","param":"manual"})", "set image mode manual\n", {"15 02>01 40 02:1E | 04 00"}},
      {R"({"cmd":"video_mode","param":"program"})", "set image mode program\n", {}},
  });
}

TEST_F(Dispatcher, ApertureFarOutOfRangeSendsNothing) {
  for (const char* text : {R"({"cmd":"aperture","param":"1e300"})", R"({"cmd":"aperture","param":"-inf"})",
                           R"({"cmd":"aperture","param":"nan"})"}) {
    SCOPED_TRACE(text);
    Logged([&] { DispatchCameraCommand(text, 0); });
    EXPECT_TRUE(TextsSoFar(end_).empty());
  }
}

TEST_F(Dispatcher, VideoResolutions) {
  const char* table[][4] = {
      {"4096x2160@25", "16", "02"}, {"4096x2160@24", "16", "01"}, {"3840x2160@30", "10", "03"},
      {"3840x2160@25", "10", "02"}, {"3840x2160@24", "10", "01"}, {"2704x1520@30", "18", "03"},
      {"2704x1520@25", "18", "02"}, {"2704x1520@24", "18", "01"}, {"1920x1080@60", "0A", "06"},
      {"1920x1080@50", "0A", "05"}, {"1920x1080@48", "0A", "04"}, {"1920x1080@30", "0A", "03"},
      {"1920x1080@25", "0A", "02"}, {"1920x1080@24", "0A", "01"}, {"1280x720@60", "04", "06"},
      {"1280x720@50", "04", "05"},  {"1280x720@48", "04", "04"},  {"1280x720@30", "04", "03"},
      {"1280x720@25", "04", "02"},  {"1280x720@24", "04", "01"},  {"1920x1080@120", "0A", "07"},
  };
  for (auto& row : table) {
    const std::string text = std::string(R"({"cmd":"video_resolution","param":")") + row[0] + "\"}";
    const std::string codes = std::string(row[1]) + " " + row[2];
    Check({text.c_str(), (std::string("set video resolution ") + row[0] + "\n").c_str(),
           {"18 02>01 40 02:18 | " + codes + " 00 00 00", "15 02>01 40 02:AF | " + codes}});
  }
  Check({R"({"cmd":"video_resolution","param":"1920x1080@29"})", "", {}});
}

TEST_F(Dispatcher, PictureSettingsGroupsReachTheirOperations) {
  CheckAll({
      {R"({"cmd":"exposure","param":"point","value1":"300"})", "set auto exposure off\nset exposure point 44\n",
       {"14 02>01 40 02:68 | 00", "14 02>01 40 02:32 | 2C"}},
      {R"({"cmd":"color","param":"sepia"})", "set color sepia\n", {}},
      {R"({"cmd":"color","param":"vivid"})", "set color vivid\n", {"14 02>01 40 02:42 | 05"}},
      {R"({"cmd":"scene","param":"soft"})", "set image scene soft\n", {"23 02>01 40 00:05 | 03 3A 01 00 3C 01 00 38 01 FF"}},
      {R"({"cmd":"wb","param":"custom","value1":"5600"})", "set wb custom 5600\n", {"15 02>01 40 02:2C | 06 38"}},
      {R"({"cmd":"shottype","param":"pano","value1":"360"})", "set shot type pano 360\n",
       {"19 02>01 40 02:6A | 07 FF 00 FF 0A 00", "14 02>01 40 02:6E | 01"}},
      {R"({"cmd":"shottype","param":"timelapse","value1":"3","value2":"60"})",
       "set shot type timelapse 3\nset timelapse interval 3 duration 60\n",
       {"19 02>01 40 02:6A | 06 FF 02 FF 32 00", "28 02>01 40 02:6C | 01 04 00 1E 00 3C 00 00 00 F9 FF 00 00 00 00"}},
      {R"({"cmd":"hystogram","param":"1"})", "", {"14 02>01 40 02:60 | 01"}},
      {R"({"cmd":"video_std","param":"PAL"})", "set video standard PAL\n", {"14 02>01 40 02:66 | 00", "14 02>01 40 02:66 | 00"}},
      {R"({"cmd":"antiflicker","param":"60"})", "set anti-flicker 60\n", {"14 02>01 40 02:46 | 02"}},
      {R"({"cmd":"calibratefocus"})", "calibrate focus\n", {"16 02>01 40 02:A4 | 01 01 00"}},
      {R"({"cmd":"formatmicrosd"})", "format microSD card\n", {"13 02>01 40 02:72"}},
      {R"({"cmd":"formatssd"})", "format SSD card\n", {"14 02>01 40 02:A1 | 00", "14 02>07 80 00:0E | 00"}},
  });
  ShellTakeLog();
  Check({R"({"cmd":"video_aspect","param":"16:9"})", "set image aspect ratio 16:9\n", {"15 02>01 40 02:12 | 00 01"}});
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"killall -q display &"});
}

TEST_F(Dispatcher, CaptureGroups) {
  HudState* hud = GetHudState();
  CameraLink* link = GetCameraLink();
  hud->work_mode = 0;
  link->shot_mode = 0;
  link->shot_submode = 0;
  link->shot_active = 0;
  Check({R"({"cmd":"camera","param":"mode","value1":"video"})", "set mode video\n",
         {"14 09>01 40 02:10 | 01", "14 09>01 40 02:10 | 01"}});
  EXPECT_EQ(ShellTakeLog(), std::vector<std::string>{"killall -q display"});
  Check({R"({"cmd":"camera","param":"mode","value1":"photo"})", "set mode photo\n",
         {"14 09>01 40 02:10 | 00", "14 09>01 40 02:10 | 00"}});
  Check({R"({"cmd":"camera","param":"work","value1":"photo"})", "", {}});

  const std::string press = "23 09>04 40 01:01 | 30 00 00 00 00 91 00 01 00 A0";
  const std::string press_camera = "23 09>01 40 01:01 | 30 00 00 00 00 91 00 01 00 A0";
  const std::string release = "23 09>04 40 01:01 | 00 00 00 00 00 91 00 00 00 91";
  const std::string release_camera = "23 09>01 40 01:01 | 00 00 00 00 00 91 00 00 00 91";
  const std::vector<std::string> shot = {press, press, press_camera, press_camera,
                                         release, release, release_camera, release_camera};
  // An unknown format still releases the shutter with the camera's format.
  Check({R"({"cmd":"shot","param":"bmp"})", "shot\n", shot});
  std::vector<std::string> jpg_shot = {"14 02>01 40 02:16 | 01"};
  jpg_shot.insert(jpg_shot.end(), shot.begin(), shot.end());
  Check({R"({"cmd":"shot","param":"jpg"})", "set shot mode JPG\nshot\n", jpg_shot});
  CheckAll({
      {R"({"cmd":"shotmode","param":"raw"})", "set shot mode RAW\n", {"14 02>01 40 02:16 | 00"}},
      {R"({"cmd":"shotmode","param":"jpg+raw"})", "set shot mode JPG+RAW\n", {"14 02>01 40 02:16 | 02"}},
      {R"({"cmd":"shotmode","param":"png"})", "", {}},
      {R"({"cmd":"record","param":"pause"})", "", {}},
  });

  hud->work_mode = 1;
  const std::string start = "23 09>01 00 01:01 | 0C 00 00 00 00 91 0D 00 00 90";
  const std::string start_gimbal = "23 09>04 00 01:01 | 0C 00 00 00 00 91 0D 00 00 90";
  const std::string idle = "23 09>01 00 01:01 | 00 00 00 00 00 91 0D 00 00 9C";
  const std::string idle_gimbal = "23 09>04 00 01:01 | 00 00 00 00 00 91 0D 00 00 9C";
  Check({R"({"cmd":"record","param":"start"})", "record start\n",
         {start, start_gimbal, start, start_gimbal, start, start_gimbal, start, start_gimbal,
          idle, idle_gimbal, idle, idle_gimbal, idle, idle_gimbal, idle, idle_gimbal}});

  Logged([] { DispatchCameraCommand(R"({"cmd":"stopshot"})", 0); });
  auto frames = FramesSoFar(end_);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(FrameText(frames[0]), "23 09>01 40 01:01 | 10 00 00 00 00 91 00 00 00 81");
}

TEST_F(Dispatcher, CameraClockPowerAndReset) {
  g_date_sync_pending = 1;
  Check({R"({"cmd":"time","value1":"20240131235958"})", "", {"20 02>01 40 02:54 | E8 07 01 1F 17 3B 3A"}});
  EXPECT_EQ(g_date_sync_pending.load(), 0);
  CheckAll({
      // Fields past the end of a short text count as 0; a cut field reads what is there.
      {R"({"cmd":"time","value1":"2024013"})", "", {"20 02>01 40 02:54 | E8 07 01 03 00 00 00"}},
      {R"({"cmd":"time","value1":""})", "", {"20 02>01 40 02:54 | 00 00 00 00 00 00 00"}},
      {R"({"cmd":"time"})", "", {"20 02>01 40 02:54 | 00 00 00 00 00 00 00"}},
      // Each field is read by itself: "99" "99" are not range-checked.
      {R"({"cmd":"time","value1":"1999999999999999"})", "", {"20 02>01 40 02:54 | CF 07 63 63 63 63 63"}},
      {R"({"cmd":"resetcamera"})", "", {"14 02>01 40 02:78 | 00"}},
      {R"({"cmd":"power","param":"sleep"})", "Power set sleep\n", {"14 02>09 40 09:51 | 01"}},
      {R"({"cmd":"power","param":"shutdown"})", "Power set shutdown\n", {"14 02>09 40 09:51 | 04"}},
      {R"({"cmd":"power","param":"reboot"})", "Power set reboot\n", {}},
  });
}

TEST_F(Dispatcher, PlaybackLogsTheTextThenRunsTheKeys) {
  const std::string next = "23 09>01 00 01:01 | 00 00 20 00 00 91 0D 00 00 BC";
  const std::string next_gimbal = "23 09>04 00 01:01 | 00 00 20 00 00 91 0D 00 00 BC";
  const std::string idle = "23 09>01 00 01:01 | 00 00 00 00 00 91 0D 00 00 9C";
  const std::string idle_gimbal = "23 09>04 00 01:01 | 00 00 00 00 00 91 0D 00 00 9C";
  Check({R"({"cmd":"playback","param":"next"})", "playback command: next\n",
         {next, next_gimbal, next, next_gimbal, next, next_gimbal, idle, idle_gimbal, idle, idle_gimbal, idle,
          idle_gimbal}});
  Check({R"({"cmd":"playback","param":"rewind"})", "playback command: rewind\n", {}});
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
  GetCameraLink()->link_up = 0;
  CheckAll({
      {R"({"cmd":"horizont","param":"calibrate"})", "full calibrate\n", {}},
      {R"({"cmd":"zoomadjustedsmoothtrack","value1":"1"})", "set Zoom Adjusted Smoothtrack to 1\n", {}},
      {R"({"cmd":"focus","param":"mfa","value1":"1"})", "set MF assistant to 1\n", {}},
      {R"({"cmd":"power","param":"sleep"})", "Power set sleep\n", {}},
      {R"({"cmd":"playback","param":"cancel"})", "playback command: cancel\n", {}},
  });
  Check({R"({"cmd":"zoom","param":"-2","value1":"4"})", "", {}});
  EXPECT_EQ(GetCameraLink()->zoom_speed, 4);
  g_date_sync_pending = 1;
  Check({R"({"cmd":"time","value1":"20240131235958"})", "", {}});
  EXPECT_EQ(g_date_sync_pending.load(), 0);
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

TEST(DispatcherGroups, TheVocabularyCoversEveryGroupAndNothingElse) {
  const std::set<std::string> groups = {
      "camera", "horizont", "exposure", "focus", "position", "zoom", "orientation", "scenemode", "pitch",
      "color", "scene", "wb", "shot", "stopshot", "shotmode", "shottype", "record", "hystogram", "video_mode",
      "shutter", "aperture", "iso", "ev", "video_resolution", "video_aspect", "video_std", "antiflicker",
      "calibratefocus", "formatmicrosd", "formatssd", "zoomadjustedsmoothtrack", "time", "resetcamera", "power",
      "playback"};
  for (const std::string& name : groups) EXPECT_TRUE(IsCameraCommandGroup(name.c_str())) << name;
  for (const char* name : {"", "configrequest", "updateparam", "Camera", "histogram", "restart"}) {
    EXPECT_FALSE(IsCameraCommandGroup(name)) << name;
  }
  size_t count = 0;
  const CameraCommandWord* words = CameraVocabulary(&count);
  std::set<std::string> described;
  for (size_t i = 0; i < count; ++i) described.insert(words[i].cmd);
  EXPECT_EQ(described, groups);
}

// Every word of the vocabulary, built with sample values, is taken by the
// dispatcher: it logs or sends something (or changes the zoom speed).
TEST_F(Dispatcher, EveryVocabularyWordActs) {
  size_t count = 0;
  const CameraCommandWord* words = CameraVocabulary(&count);
  GetHudState()->focus_mode = 1;
  GetCameraLink()->focus_range = 100;
  for (size_t i = 0; i < count; ++i) {
    const CameraCommandWord& w = words[i];
    if (std::strcmp(w.name, "position/moverel") == 0) continue;  // only stores speeds for the RC loop
    const char* param = w.param_hint ? SampleParam(w.cmd) : nullptr;
    const std::string value1 = SampleValue(w.value1_hint);
    char text[256];
    ASSERT_GT(BuildCameraCommand(w, param, value1.c_str(), "1", text, sizeof text), 0u) << w.name;
    GetCameraLink()->zoom_speed = 0;
    std::string log = Logged([&] { DispatchCameraCommand(text, 0); });
    auto frames = FramesSoFar(end_);
    EXPECT_TRUE(!log.empty() || !frames.empty() || GetCameraLink()->zoom_speed != 0) << text;
  }
}

}  // namespace
}  // namespace commands_test
