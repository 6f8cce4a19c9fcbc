// One-line texts of camera frames for vb-camera's output, easy to grep:
// "14 02>01 40 02:2A seq=17 | 03" (length, sender>receiver, type, set:id,
// sequence, payload). A frame whose checksums fail ends in " crc=bad"; bytes
// that are not one whole frame print as "junk N | 55 0E ...".
#pragma once

#include <cstddef>
#include <cstdint>

void FormatFrame(const uint8_t* data, size_t length, char* out, size_t size);

// Hex bytes separated by blanks, cut to what fits.
void FormatHex(const uint8_t* data, size_t length, char* out, size_t size);
