#include "commands/picture_settings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "commands/command_numbers.h"
#include "commands/stored_frame.h"
#include "platform/shell.h"

namespace {

// All frames here go from the box (0x02) to the camera (0x01), type 0x40.
constexpr FrameTemplate<14> kAutoExposureOff = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x68, 0x00, 0, 0};
constexpr FrameTemplate<14> kAutoExposureLock = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x68, 0x01, 0, 0};
constexpr FrameTemplate<14> kExposurePoint = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x32, 0x00, 0, 0};
constexpr FrameTemplate<14> kExposureCenter = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x22, 0x00, 0, 0};
constexpr FrameTemplate<14> kColorProfile = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x42, 0x00, 0, 0};
constexpr FrameTemplate<23> kImageScene = {0x55, 0x17, 0x04, 0x38, 0x02, 0x01, 0, 0, 0x40, 0x00, 0x05,
    0x03, 0x3A, 0x01, 0x00, 0x3C, 0x01, 0x00, 0x38, 0x01, 0x00, 0, 0};
constexpr FrameTemplate<15> kWhiteBalance = {0x55, 0x0F, 0x04, 0xA2, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x2C, 0x00, 0x44, 0, 0};
constexpr FrameTemplate<14> kHistogramOn = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x60, 0x01, 0, 0};
constexpr FrameTemplate<14> kHistogramOff = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x60, 0x00, 0, 0};
constexpr FrameTemplate<15> kAspect4To3 = {0x55, 0x0F, 0x04, 0xA2, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x12, 0x00, 0x00, 0, 0};
constexpr FrameTemplate<15> kAspect16To9 = {0x55, 0x0F, 0x04, 0xA2, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x12, 0x00, 0x01, 0, 0};
constexpr FrameTemplate<14> kStandardPal = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x66, 0x00, 0, 0};
constexpr FrameTemplate<14> kStandardNtsc = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x66, 0x01, 0, 0};
constexpr FrameTemplate<14> kAntiFlickerAuto = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x46, 0x00, 0, 0};
constexpr FrameTemplate<14> kAntiFlicker50 = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x46, 0x01, 0, 0};
constexpr FrameTemplate<14> kAntiFlicker60 = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x46, 0x02, 0, 0};
constexpr FrameTemplate<16> kCalibrateFocus = {0x55, 0x10, 0x04, 0x56, 0x02, 0x01, 0, 0, 0x40, 0x02, 0xA4, 0x01, 0x01, 0x00, 0, 0};
constexpr FrameTemplate<13> kFormatMicroSd = {0x55, 0x0D, 0x04, 0x33, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x72, 0, 0};
constexpr FrameTemplate<14> kFormatSsd = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0xA1, 0x00, 0, 0};
// Goes to unit 0x07 as an answer-type frame, set 0x00.
constexpr FrameTemplate<14> kFormatSsdConfirm = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x07, 0, 0, 0x80, 0x00, 0x0E, 0x00, 0, 0};
static_assert(FrameTemplateValid(kAutoExposureOff));
static_assert(FrameTemplateValid(kAutoExposureLock));
static_assert(FrameTemplateValid(kExposurePoint));
static_assert(FrameTemplateValid(kExposureCenter));
static_assert(FrameTemplateValid(kColorProfile));
static_assert(FrameTemplateValid(kImageScene));
static_assert(FrameTemplateValid(kWhiteBalance));
static_assert(FrameTemplateValid(kHistogramOn));
static_assert(FrameTemplateValid(kHistogramOff));
static_assert(FrameTemplateValid(kAspect4To3));
static_assert(FrameTemplateValid(kAspect16To9));
static_assert(FrameTemplateValid(kStandardPal));
static_assert(FrameTemplateValid(kStandardNtsc));
static_assert(FrameTemplateValid(kAntiFlickerAuto));
static_assert(FrameTemplateValid(kAntiFlicker50));
static_assert(FrameTemplateValid(kAntiFlicker60));
static_assert(FrameTemplateValid(kCalibrateFocus));
static_assert(FrameTemplateValid(kFormatMicroSd));
static_assert(FrameTemplateValid(kFormatSsd));
static_assert(FrameTemplateValid(kFormatSsdConfirm));

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

bool Same(const char* a, const char* b) { return a != nullptr && std::strcmp(a, b) == 0; }
const char* Text(const char* t) { return t != nullptr ? t : ""; }

template <size_t N>
void SendWithByte(const FrameTemplate<N>& stored, size_t offset, uint8_t value) {
  uint8_t frame[N];
  std::memcpy(frame, stored.data(), N);
  frame[offset] = value;
  SendFrameIfLinkUp(frame, static_cast<uint16_t>(N));
}

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

void SetExposureMetering(const char* param, const char* value1) {
  if (Same(param, "point")) {
    fprintf(stderr, "set auto exposure off\n");
    SendStoredFrame(Stored(kAutoExposureOff));
    const uint8_t point = static_cast<uint8_t>(CommandInteger(value1) & 0xFF);
    fprintf(stderr, "set exposure point %d\n", point);
    SendWithByte(kExposurePoint, kPayload, point);
  }
  if (Same(param, "center")) {
    fprintf(stderr, "set auto exposure off\n");
    SendStoredFrame(Stored(kAutoExposureOff));
    fprintf(stderr, "set exposure to center\n");
    SendStoredFrame(Stored(kExposureCenter));
  }
  if (Same(param, "auto") && Same(value1, "lock")) {
    fprintf(stderr, "set auto exposure locked\n");
    SendStoredFrame(Stored(kAutoExposureLock));
  }
  if (Same(param, "auto") && Same(value1, "unlock")) {
    fprintf(stderr, "set auto exposure unlocked\n");
    SendStoredFrame(Stored(kAutoExposureOff));
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
    uint8_t frame[kImageScene.size()];
    std::memcpy(frame, kImageScene.data(), sizeof frame);
    frame[kPayload + 3] = row.a;
    frame[kPayload + 9] = row.b;
    SendFrameIfLinkUp(frame, sizeof frame);
  }
}

void SetWhiteBalance(const char* param, const char* value1) {
  fprintf(stderr, "set wb %s %s\n", Text(param), Text(value1));
  uint8_t frame[kWhiteBalance.size()];
  std::memcpy(frame, kWhiteBalance.data(), sizeof frame);
  for (const WhiteBalanceRow& row : kWhiteBalances) {
    if (!Same(param, row.name)) continue;
    frame[kPayload] = row.mode;
    frame[kPayload + 1] = row.temperature;
    SendFrameIfLinkUp(frame, sizeof frame);
  }
  if (Same(param, "custom")) {
    // Steps of 100 K from 2000 K, code 20 at 2000 K; below that nothing is sent.
    const int64_t steps = (static_cast<int64_t>(CommandInteger(value1)) - 2000) / 100;
    if (steps < 0) return;
    frame[kPayload] = kWhiteBalanceCustom;
    frame[kPayload + 1] = static_cast<uint8_t>((steps + 20) & 0xFF);
    SendFrameIfLinkUp(frame, sizeof frame);
  }
}

void SetHistogram(const char* param) { SendChoice(kHistograms, param); }

void SetVideoAspect(const char* param) {
  fprintf(stderr, "set image aspect ratio %s\n", Text(param));
  for (const ChoiceRow& row : kAspects) {
    if (!Same(param, row.name)) continue;
    SendStoredFrame(row.frame);
    // The display process picks up the new aspect ratio when it starts again.
    RunShellCommand("killall -q display &");
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
