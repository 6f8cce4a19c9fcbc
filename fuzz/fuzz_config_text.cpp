// Configuration texts through the ini parser, the key setter and the RC map
// parser, then a few table look-ups with the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/keys.h"
#include "config/loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ParseConfigurationText(text.c_str());
  ParseRcChannelMap(text.c_str());
  int group = 0, code = 0;
  LookupHdmiMode(text.c_str(), &group, &code);
  RcFunctionCode(text.c_str());
  return 0;
}
