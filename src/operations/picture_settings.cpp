#include "operations/picture_settings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "common/named_rows.h"
#include "common/number_text.h"
#include "platform/shell.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"

namespace {

constexpr size_t kPayload = kFrameHeaderSize;

struct ColorRow {
  const char* name;
  uint8_t code;
};
constexpr ColorRow kColors[] = {
    {"d-log", 0x17}, {"d-cinelike", 0x06}, {"none", 0x00},     {"art", 0x01},       {"black white", 0x04}, {"vivid", 0x05},
    {"beach", 0x0E}, {"dream", 0x10},      {"classic", 0x12}, {"nostalgia", 0x13}, {"portrait", 0x07},
};

// Only payload bytes 3 and 9 differ between the scenes.
struct SceneRow {
  const char* name;
  uint8_t a;
  uint8_t b;
};
constexpr SceneRow kScenes[] = {
    {"standard", 0x00, 0x00}, {"scenery", 0x01, 0x01}, {"soft", 0x00, 0xFF}, {"custom", 0x01, 0x00}};

struct WhiteBalanceRow {
  const char* name;
  uint8_t mode;
  uint8_t temperature;
};
constexpr WhiteBalanceRow kWhiteBalances[] = {
    {"auto", 0x00, 0x44}, {"sunny", 0x01, 0x30}, {"cloudy", 0x02, 0x40}, {"incandescent", 0x04, 0x44}, {"neon", 0x05, 0x19}};
// The custom white balance takes its colour temperature from value1.
constexpr char kCustomWhiteBalance[] = "custom";
constexpr uint8_t kWhiteBalanceCustom = 0x06;

struct ChoiceRow {
  const char* name;
  StoredFrame frame;
};
constexpr ChoiceRow kAntiFlickers[] = {
    {"auto", Stored(kAntiFlickerAuto)}, {"50", Stored(kAntiFlicker50)}, {"60", Stored(kAntiFlicker60)}};
constexpr ChoiceRow kHistograms[] = {{"1", Stored(kHistogramOn)}, {"0", Stored(kHistogramOff)}};
constexpr ChoiceRow kAspects[] = {{"4:3", Stored(kAspect4To3)}, {"16:9", Stored(kAspect16To9)}};
constexpr ChoiceRow kStandards[] = {{"PAL", Stored(kStandardPal)}, {"NTSC", Stored(kStandardNtsc)}};

// "exposure"/"auto": value1 locks or unlocks the auto exposure.
struct AutoExposureRow {
  const char* name;
  const char* log;
  StoredFrame frame;
};
constexpr AutoExposureRow kAutoExposures[] = {
    {"lock", "set auto exposure locked\n", Stored(kAutoExposureLock)},
    {"unlock", "set auto exposure unlocked\n", Stored(kAutoExposureOff)},
};

bool Same(const char* a, const char* b) { return a != nullptr && std::strcmp(a, b) == 0; }
const char* Text(const char* t) { return t != nullptr ? t : ""; }

// Sends the frame of every row whose name matches, in table order; returns how many matched.
template <size_t N>
int SendChoice(const ChoiceRow (&rows)[N], const char* param) {
  int matched = 0;
  for (const ChoiceRow& row : rows) {
    if (Same(param, row.name)) {
      SendStoredFrame(row.frame);
      ++matched;
    }
  }
  return matched;
}

}  // namespace

const char* AutoExposureChoice(size_t index) { return NameAt(kAutoExposures, index); }
const char* ColorProfileChoice(size_t index) { return NameAt(kColors, index); }
const char* ImageSceneChoice(size_t index) { return NameAt(kScenes, index); }
const char* WhiteBalanceChoice(size_t index) {
  return index == std::size(kWhiteBalances) ? kCustomWhiteBalance : NameAt(kWhiteBalances, index);
}
const char* HistogramChoice(size_t index) { return NameAt(kHistograms, index); }
const char* VideoAspectChoice(size_t index) { return NameAt(kAspects, index); }
const char* VideoStandardChoice(size_t index) { return NameAt(kStandards, index); }
const char* AntiFlickerChoice(size_t index) { return NameAt(kAntiFlickers, index); }

void SetExposureMetering(const char* param, const char* value1) {
  if (Same(param, "point")) {
    fprintf(stderr, "set auto exposure off\n");
    SendStoredFrame(Stored(kAutoExposureOff));
    const uint8_t point = static_cast<uint8_t>(ReadInt32(value1) & 0xFF);
    fprintf(stderr, "set exposure point %d\n", point);
    SendWithByte(kExposurePoint, kPayload, point);
  }
  if (Same(param, "center")) {
    fprintf(stderr, "set auto exposure off\n");
    SendStoredFrame(Stored(kAutoExposureOff));
    fprintf(stderr, "set exposure to center\n");
    SendStoredFrame(Stored(kExposureCenter));
  }
  for (const AutoExposureRow& row : kAutoExposures) {
    if (!Same(param, "auto") || !Same(value1, row.name)) continue;
    fprintf(stderr, "%s", row.log);
    SendStoredFrame(row.frame);
  }
}

void SetColorProfile(const char* param) {
  fprintf(stderr, "set color %s\n", Text(param));
  for (const ColorRow& row : kColors) {
    if (Same(param, row.name)) SendWithByte(kColorProfile, kPayload, row.code);
  }
}

void SetImageScene(const char* param) {
  fprintf(stderr, "set image scene %s\n", Text(param));
  for (const SceneRow& row : kScenes) {
    if (!Same(param, row.name)) continue;
    SendPatched(kImageScene, [&](uint8_t* frame) {
      frame[kPayload + 3] = row.a;
      frame[kPayload + 9] = row.b;
    });
  }
}

void SetWhiteBalance(const char* param, const char* value1) {
  fprintf(stderr, "set wb %s %s\n", Text(param), Text(value1));
  const auto send = [](uint8_t mode, uint8_t temperature) {
    SendPatched(kWhiteBalance, [&](uint8_t* frame) {
      frame[kPayload] = mode;
      frame[kPayload + 1] = temperature;
    });
  };
  for (const WhiteBalanceRow& row : kWhiteBalances) {
    if (Same(param, row.name)) send(row.mode, row.temperature);
  }
  if (Same(param, kCustomWhiteBalance)) {
    // Steps of 100 K from 2000 K, code 20 at 2000 K; below that nothing is sent.
    const int64_t steps = (static_cast<int64_t>(ReadInt32(value1)) - 2000) / 100;
    if (steps < 0) return;
    send(kWhiteBalanceCustom, static_cast<uint8_t>((steps + 20) & 0xFF));
  }
}

void SetHistogram(const char* param) { SendChoice(kHistograms, param); }

void SetVideoAspect(const char* param) {
  fprintf(stderr, "set image aspect ratio %s\n", Text(param));
  for (const ChoiceRow& row : kAspects) {
    if (!Same(param, row.name)) continue;
    SendStoredFrame(row.frame);
    // The display process picks up the new aspect ratio when it starts again.
    ExecuteShellCommand("killall -q display &");
  }
}

void SetVideoStandard(const char* param) {
  fprintf(stderr, "set video standard %s\n", Text(param));
  for (const ChoiceRow& row : kStandards) {
    if (!Same(param, row.name)) continue;
    SendStoredFrame(row.frame);
    SendStoredFrame(row.frame);
  }
}

void SetAntiFlicker(const char* param) {
  fprintf(stderr, "set anti-flicker %s\n", Text(param));
  SendChoice(kAntiFlickers, param);
}

void CalibrateFocus() {
  fprintf(stderr, "calibrate focus\n");
  SendStoredFrame(Stored(kCalibrateFocus));
}

void FormatMicroSd() {
  fprintf(stderr, "format microSD card\n");
  SendStoredFrame(Stored(kFormatMicroSd));
}

void FormatSsd() {
  fprintf(stderr, "format SSD card\n");
  if (!SendStoredFrame(Stored(kFormatSsd))) return;
  SendStoredFrame(Stored(kFormatSsdConfirm));
}
