#include "test_picture.h"

#include <cstring>

namespace {

constexpr uint8_t kBlack = 16, kWhite = 235;  // video range

void Fill(uint8_t* luma, int stride, int width, int height, int x, int y, int w, int h, uint8_t value) {
  for (int row = y < 0 ? 0 : y; row < y + h && row < height; ++row) {
    const int from = x < 0 ? 0 : x, to = x + w < width ? x + w : width;
    if (to > from) std::memset(luma + row * stride + from, value, static_cast<size_t>(to - from));
  }
}

}  // namespace

const uint8_t kSevenSegments[10] = {0x7E, 0x30, 0x6D, 0x79, 0x33, 0x5B, 0x5F, 0x70, 0x7F, 0x7B};

DigitBox DigitBoxFor(int picture_height) {
  DigitBox b;
  b.height = picture_height / 6;
  b.width = b.height / 2;
  b.stroke = b.height / 8 > 2 ? b.height / 8 : 2;
  b.gap = b.width / 3;
  b.left = b.height / 4;
  b.top = b.height / 4;
  return b;
}

void DrawTestPicture(uint8_t* luma, int stride, int width, int height, uint32_t n) {
  // A diagonal ramp and a bar that crosses the picture every two seconds at
  // 30 pictures a second: motion a viewer sees, cheap to encode.
  for (int y = 0; y < height; ++y) {
    uint8_t* row = luma + y * stride;
    for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(48 + ((x + y + static_cast<int>(n) * 2) & 127));
  }
  const int bar = static_cast<int>(n % 60) * width / 60;
  Fill(luma, stride, width, height, bar, 0, width / 40 + 1, height, 200);

  const DigitBox b = DigitBoxFor(height);
  const int pitch = b.width + b.gap;
  Fill(luma, stride, width, height, b.left - b.gap, b.top - b.gap, kPictureDigits * pitch + b.gap,
       b.height + 2 * b.gap, kBlack);
  uint32_t rest = n;
  for (int d = kPictureDigits - 1; d >= 0; --d) {
    const uint8_t bits = kSevenSegments[rest % 10];
    rest /= 10;
    const int x = b.left + d * pitch, y = b.top, w = b.width, h = b.height, t = b.stroke;
    const struct {
      int x, y, w, h;
    } segment[7] = {
        {x, y, w, t},                      // a
        {x + w - t, y, t, h / 2},          // b
        {x + w - t, y + h / 2, t, h - h / 2},  // c
        {x, y + h - t, w, t},              // d
        {x, y + h / 2, t, h - h / 2},      // e
        {x, y, t, h / 2},                  // f
        {x, y + h / 2 - t / 2, w, t},      // g
    };
    for (int s = 0; s < 7; ++s) {
      if (!(bits & (0x40 >> s))) continue;
      Fill(luma, stride, width, height, segment[s].x, segment[s].y, segment[s].w, segment[s].h, kWhite);
    }
  }
}
