// The stand-in camera's picture: a moving pattern, and the picture's number
// in large seven-segment digits in its top-left corner, readable by eye and
// by a test that samples the segments' centres (the page's latency probe).
#pragma once

#include <cstdint>

constexpr int kPictureDigits = 6;  // the number shown modulo 10^6

// The digit geometry, from the picture's height alone, so a reader that knows
// only the decoded size finds the segments.
struct DigitBox {
  int height, width, stroke, gap, left, top;
};
DigitBox DigitBoxFor(int picture_height);

// Seven bits a ... g (bit 6 = a) per decimal digit.
extern const uint8_t kSevenSegments[10];

// Draws picture number n into a luma plane (8 bits per sample).
void DrawTestPicture(uint8_t* luma, int stride, int width, int height, uint32_t n);
