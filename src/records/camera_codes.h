// The camera's code tables: exposure compensation, ISO, shutter, aperture,
// image (exposure program) modes and video resolutions. The settings parser,
// the command operations, the RC steppers, the joysticks and the tools all
// read these; an index means the same setting everywhere. Constant data, so
// any thread reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

// Exposure compensation in thirds of an EV, as tenths: the camera's code 0x07
// is -3.0 EV, 0x10 is 0 EV, 0x19 is +3.0 EV.
struct EvStep {
  int8_t tenths;
  uint8_t code;
};
inline constexpr EvStep kEvSteps[] = {
    {-30, 0x07}, {-27, 0x08}, {-23, 0x09}, {-20, 0x0A}, {-17, 0x0B}, {-13, 0x0C}, {-10, 0x0D},
    {-7, 0x0E},  {-3, 0x0F},  {0, 0x10},   {3, 0x11},   {7, 0x12},   {10, 0x13},  {13, 0x14},
    {17, 0x15},  {20, 0x16},  {23, 0x17},  {27, 0x18},  {30, 0x19},
};
inline constexpr int kEvStepCount = static_cast<int>(std::size(kEvSteps));
inline constexpr uint8_t kFirstEvCode = kEvSteps[0].code;

// The EV a step stands for, exactly as the same value written in decimal
// ("0.7") reads: a division by 10 rounds to the nearest double.
constexpr double EvOf(const EvStep& step) { return step.tenths / 10.0; }

// Tenths of EV of a settings code; 0 for codes outside the table.
int8_t EvTenthsOfCode(uint8_t code);
// The code of an EV given in tenths; 0 when it is none of the steps.
constexpr uint8_t EvCodeOfTenths(int tenths) {
  for (const EvStep& step : kEvSteps) {
    if (step.tenths == tenths) return step.code;
  }
  return 0;
}
// The step whose EV equals ev exactly, or nullptr.
const EvStep* FindEvStep(double ev);

// ISO sensitivity: "auto" first, then the fixed values, in the order the RC
// stepper walks them.
struct IsoStep {
  const char* name;
  int32_t iso;  // 0: automatic
  uint8_t code;
};
inline constexpr IsoStep kIsoSteps[] = {
    {"auto", 0, 0x00},    {"100", 100, 0x03},   {"200", 200, 0x04},   {"400", 400, 0x05},
    {"800", 800, 0x06},   {"1600", 1600, 0x07}, {"3200", 3200, 0x08}, {"6400", 6400, 0x09},
};
inline constexpr int kIsoStepCount = static_cast<int>(std::size(kIsoSteps));

const IsoStep* FindIsoByName(const char* name);
// The code of an ISO value; automatic (0x00) for values not in the table.
uint8_t IsoCodeOf(int32_t iso);

// Shutter speeds from 30 s to 1/8000 s. A code is 24 bits on the wire: the low
// 15 bits the whole number, bit 15 set for 1/x seconds, bits 16-23 the digits
// after the point ("3.2s" is 3 with fraction 2; "1.25" is 1/1.25 s).
struct ShutterStep {
  const char* name;
  uint32_t code;
};
constexpr uint32_t ShutterSeconds(uint32_t whole, uint32_t fraction_digits = 0) {
  return whole | (fraction_digits << 16);
}
constexpr uint32_t ShutterReciprocal(uint32_t whole, uint32_t fraction_digits = 0) {
  return ShutterSeconds(whole, fraction_digits) | 0x8000;
}
inline constexpr ShutterStep kShutterSteps[] = {
    {"30s", ShutterSeconds(30)},        {"25s", ShutterSeconds(25)},         {"20s", ShutterSeconds(20)},
    {"15s", ShutterSeconds(15)},        {"10s", ShutterSeconds(10)},         {"9s", ShutterSeconds(9)},
    {"8s", ShutterSeconds(8)},          {"7s", ShutterSeconds(7)},           {"6s", ShutterSeconds(6)},
    {"5s", ShutterSeconds(5)},          {"4s", ShutterSeconds(4)},           {"3.2s", ShutterSeconds(3, 2)},
    {"3s", ShutterSeconds(3)},          {"2.5s", ShutterSeconds(2, 5)},      {"2s", ShutterSeconds(2)},
    {"1.6s", ShutterSeconds(1, 6)},     {"1.3s", ShutterSeconds(1, 3)},      {"1s", ShutterSeconds(1)},
    {"1.25", ShutterReciprocal(1, 25)}, {"1.67", ShutterReciprocal(1, 67)},  {"2", ShutterReciprocal(2)},
    {"2.5", ShutterReciprocal(2, 5)},   {"3", ShutterReciprocal(3)},         {"4", ShutterReciprocal(4)},
    {"5", ShutterReciprocal(5)},        {"6.25", ShutterReciprocal(6, 25)},  {"8", ShutterReciprocal(8)},
    {"10", ShutterReciprocal(10)},      {"12.5", ShutterReciprocal(12, 5)},  {"15", ShutterReciprocal(15)},
    {"20", ShutterReciprocal(20)},      {"25", ShutterReciprocal(25)},       {"30", ShutterReciprocal(30)},
    {"40", ShutterReciprocal(40)},      {"50", ShutterReciprocal(50)},       {"60", ShutterReciprocal(60)},
    {"80", ShutterReciprocal(80)},      {"100", ShutterReciprocal(100)},     {"120", ShutterReciprocal(120)},
    {"160", ShutterReciprocal(160)},    {"200", ShutterReciprocal(200)},     {"240", ShutterReciprocal(240)},
    {"320", ShutterReciprocal(320)},    {"400", ShutterReciprocal(400)},     {"500", ShutterReciprocal(500)},
    {"640", ShutterReciprocal(640)},    {"800", ShutterReciprocal(800)},     {"1000", ShutterReciprocal(1000)},
    {"1250", ShutterReciprocal(1250)},  {"1600", ShutterReciprocal(1600)},   {"2000", ShutterReciprocal(2000)},
    {"2500", ShutterReciprocal(2500)},  {"3200", ShutterReciprocal(3200)},   {"4000", ShutterReciprocal(4000)},
    {"5000", ShutterReciprocal(5000)},  {"6400", ShutterReciprocal(6400)},   {"8000", ShutterReciprocal(8000)},
};
inline constexpr int kShutterStepCount = static_cast<int>(std::size(kShutterSteps));

// Index of a shutter name or code; -1 when it is none of the steps.
constexpr int ShutterIndexOfName(std::string_view name) {
  for (int i = 0; i < kShutterStepCount; ++i) {
    if (name == kShutterSteps[i].name) return i;
  }
  return -1;
}
int ShutterIndexOfCode(uint32_t code);

// f-numbers from 1.7 to 16, in hundredths as the settings message and the
// aperture frame carry them.
inline constexpr uint16_t kApertureHundredths[] = {170, 180, 200, 220, 250, 280,  320,  350,  400,  450, 500,
                                                   560, 630, 710, 800, 900, 1000, 1100, 1300, 1400, 1600};
inline constexpr int kApertureStepCount = static_cast<int>(std::size(kApertureHundredths));

// Index of an f-number in hundredths; -1 when it is none of the steps.
int ApertureIndexOfHundredths(int32_t hundredths);
// The f-number of a step as a float, exactly as the same value written in
// decimal ("2.8") reads.
constexpr float ApertureOf(int index) { return kApertureHundredths[index] / 100.0f; }

// Exposure programs, in the order the RC stepper walks them.
struct ImageMode {
  const char* name;
  uint8_t code;
};
inline constexpr ImageMode kImageModes[] = {{"auto", 0x01}, {"manual", 0x04}, {"shutter", 0x02}, {"aperture", 0x03}};
inline constexpr int kImageModeCount = static_cast<int>(std::size(kImageModes));

const ImageMode* FindImageMode(const char* name);

// Video resolutions and frame rates with the camera's size and rate codes.
struct VideoResolution {
  const char* name;
  int32_t width;
  int32_t height;
  int32_t rate;
  uint8_t size_code;
  uint8_t rate_code;
};
inline constexpr VideoResolution kVideoResolutions[] = {
    {"4096x2160@25", 4096, 2160, 25, 0x16, 2}, {"4096x2160@24", 4096, 2160, 24, 0x16, 1},
    {"3840x2160@30", 3840, 2160, 30, 0x10, 3}, {"3840x2160@25", 3840, 2160, 25, 0x10, 2},
    {"3840x2160@24", 3840, 2160, 24, 0x10, 1}, {"2704x1520@30", 2704, 1520, 30, 0x18, 3},
    {"2704x1520@25", 2704, 1520, 25, 0x18, 2}, {"2704x1520@24", 2704, 1520, 24, 0x18, 1},
    {"1920x1080@60", 1920, 1080, 60, 0x0A, 6}, {"1920x1080@50", 1920, 1080, 50, 0x0A, 5},
    {"1920x1080@48", 1920, 1080, 48, 0x0A, 4}, {"1920x1080@30", 1920, 1080, 30, 0x0A, 3},
    {"1920x1080@25", 1920, 1080, 25, 0x0A, 2}, {"1920x1080@24", 1920, 1080, 24, 0x0A, 1},
    {"1280x720@60", 1280, 720, 60, 0x04, 6},   {"1280x720@50", 1280, 720, 50, 0x04, 5},
    {"1280x720@48", 1280, 720, 48, 0x04, 4},   {"1280x720@30", 1280, 720, 30, 0x04, 3},
    {"1280x720@25", 1280, 720, 25, 0x04, 2},   {"1280x720@24", 1280, 720, 24, 0x04, 1},
    {"1920x1080@120", 1920, 1080, 120, 0x0A, 7},
};

const VideoResolution* FindVideoResolution(const char* name);
// The camera's code for a frame size and for a frame rate; 0 when unknown.
uint8_t VideoSizeCode(int32_t width, int32_t height);
uint8_t VideoRateCode(int32_t rate);
