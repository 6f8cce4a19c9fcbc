// Whatever goes into the settings comes back from the file unchanged.
//
// The input is read twice. As a configuration file: loaded, saved as the file
// text, loaded again; the record must come back byte for byte. As texts from
// viewers, one per text setting, separated by NUL bytes: each goes through the
// check a command applies, the accepted ones are stored, and saving and
// loading must give the same record back. Last, the same texts go to the
// setter as raw values, which must also come back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "config/keys.h"
#include "config/loader.h"
#include "config/writer.h"
#include "records/config_schema.h"
#include "records/shared_config.h"

namespace {

void Fail(const char* what, const std::string& text) {
  fprintf(stderr, "%s\n--- file text ---\n%s\n", what, text.c_str());
  abort();
}

// Saves the record and loads the saved text; aborts when anything changed.
void ExpectSameRecordAfterReload(const char* what) {
  SharedConfig before = *GetSharedConfig();
  std::string text;
  FormatConfigurationFile(before, &text);
  ParseConfigurationText(text.c_str());
  if (std::memcmp(GetSharedConfig(), &before, sizeof before) != 0) Fail(what, text);
}

std::string FieldOf(const ConfigSetting& setting) {
  const char* field = reinterpret_cast<const char*>(GetSharedConfig()) + setting.offset;
  return std::string(field, strnlen(field, setting.size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  ParseConfigurationText(input.c_str());
  ExpectSameRecordAfterReload("a loaded file did not come back from its own save");

  ParseConfigurationText("");
  std::string_view rest(input);
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.key == nullptr || !IsTextRule(setting.rule)) continue;
    size_t end = rest.find('\0');
    std::string_view received = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

    std::string stored;
    if (PrepareReceivedText(setting, received, &stored)) {
      StoreSettingValue(setting, stored.c_str());
      if (FieldOf(setting) != stored) Fail("an accepted text was not stored as accepted", stored);
    }
  }
  ExpectSameRecordAfterReload("a stored text did not come back from the file");

  // The same texts as values the setter gets without the loader's trimming.
  rest = input;
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.key == nullptr || !IsTextRule(setting.rule)) continue;
    size_t end = rest.find('\0');
    StoreSettingValue(setting, std::string(rest.substr(0, end)).c_str());
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  ExpectSameRecordAfterReload("a value set directly did not come back from the file");
  return 0;
}
