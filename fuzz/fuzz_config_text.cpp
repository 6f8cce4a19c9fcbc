// Configuration texts through the ini parser, the key setter and the RC map
// parser, then a few table look-ups with the same bytes. Then the check line:
// any text with its check line appended checks, with CR LF or LF line ends,
// and no longer does with any one byte changed. A text a restore accepts is
// held exactly: the file saved from its record is accepted too and gives the
// same record back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/keys.h"
#include "config/loader.h"
#include "config/settings_check.h"
#include "config/settings_restore.h"
#include "config/writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ParseConfigurationText(text.c_str());
  ParseRcChannelMap(text.c_str());
  int group = 0, code = 0;
  LookupHdmiMode(text.c_str(), &group, &code);
  RcFunctionCode(text.c_str());

  std::string saved = text;
  AppendCheckLine(&saved, "\r\n");
  if (CheckSettingsText(saved).shape != SettingsShape::kChecked) abort();
  if (CheckSettingsText(WithLfLineEnds(saved)).shape != SettingsShape::kChecked) abort();
  const size_t at = size == 0 ? 0 : (data[0] * 131u + data[size - 1]) % saved.size();
  saved[at] = static_cast<char>(saved[at] ^ (size == 0 ? 1 : data[size / 2] | 1));
  if (CheckSettingsText(saved).shape == SettingsShape::kChecked) abort();

  if (CheckRestoredText(text).problem.empty()) {
    const SharedConfig record = SettingsRecordOf(text, SharedConfig{});
    std::string file;
    FormatConfigurationFile(record, &file);
    if (!CheckRestoredText(file).problem.empty()) abort();
    const SharedConfig again = SettingsRecordOf(file, SharedConfig{});
    if (std::memcmp(&record, &again, sizeof record) != 0) abort();
  }
  return 0;
}
