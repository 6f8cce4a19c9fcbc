// The stand-ins read whatever the box sends them: the viewer's message lines
// and the camera's frame lines and answer checks must never read past a datagram.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../tools/vb-camera/answers.h"
#include "../tools/vb-camera/printer.h"
#include "../tools/vb-viewer/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so the sanitizer sees any read beyond the end.
  std::vector<uint8_t> copy(data, data + size);
  char line[8192];
  FormatClientMessage(copy.data(), copy.size(), line, sizeof line);
  FormatFrame(copy.data(), copy.size(), line, sizeof line);
  FormatFrame(copy.data(), copy.size(), line, 17);  // a short line buffer cuts, never overflows

  AnswerChecker checker;
  for (int mode : {kModeOsmo, kModeInspire}) {
    int count = 0;
    const CameraQuery* q = QueriesForMode(mode, &count);
    for (int i = 0; i < count; ++i) ExpectAnswer(&checker, &q[i], static_cast<uint16_t>(i), 1, 1.0);
  }
  while (CheckAnswer(&checker, copy.data(), copy.size(), line, sizeof line) != kNotAnAnswer) {
  }
  char missing[8][160];
  ExpireAnswers(&checker, 2.0, missing, 8);
  return 0;
}
