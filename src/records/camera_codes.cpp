#include "records/camera_codes.h"

#include <cstring>

namespace {

bool Same(const char* a, const char* b) { return a != nullptr && std::strcmp(a, b) == 0; }

// The lookups below rely on codes that run in table order without gaps.
constexpr bool EvCodesConsecutive() {
  for (int i = 0; i < kEvStepCount; ++i) {
    if (kEvSteps[i].code != kFirstEvCode + i) return false;
  }
  return true;
}
static_assert(EvCodesConsecutive());

}  // namespace

int8_t EvTenthsOfCode(uint8_t code) {
  if (code < kFirstEvCode || code - kFirstEvCode >= kEvStepCount) return 0;
  return kEvSteps[code - kFirstEvCode].tenths;
}

const EvStep* FindEvStep(double ev) {
  for (const EvStep& step : kEvSteps) {
    if (EvOf(step) == ev) return &step;
  }
  return nullptr;
}

const IsoStep* FindIsoByName(const char* name) {
  for (const IsoStep& step : kIsoSteps) {
    if (Same(name, step.name)) return &step;
  }
  return nullptr;
}

uint8_t IsoCodeOf(int32_t iso) {
  for (const IsoStep& step : kIsoSteps) {
    if (step.iso == iso) return step.code;
  }
  return 0x00;
}

int ShutterIndexOfCode(uint32_t code) {
  for (int i = 0; i < kShutterStepCount; ++i) {
    if (kShutterSteps[i].code == code) return i;
  }
  return -1;
}

int ApertureIndexOfHundredths(int32_t hundredths) {
  for (int i = 0; i < kApertureStepCount; ++i) {
    if (kApertureHundredths[i] == hundredths) return i;
  }
  return -1;
}

const ImageMode* FindImageMode(const char* name) {
  for (const ImageMode& mode : kImageModes) {
    if (Same(name, mode.name)) return &mode;
  }
  return nullptr;
}

const VideoResolution* FindVideoResolution(const char* name) {
  for (const VideoResolution& row : kVideoResolutions) {
    if (Same(name, row.name)) return &row;
  }
  return nullptr;
}

uint8_t VideoSizeCode(int32_t width, int32_t height) {
  for (const VideoResolution& row : kVideoResolutions) {
    if (row.width == width && row.height == height) return row.size_code;
  }
  return 0;
}

uint8_t VideoRateCode(int32_t rate) {
  for (const VideoResolution& row : kVideoResolutions) {
    if (row.rate == rate) return row.rate_code;
  }
  return 0;
}
