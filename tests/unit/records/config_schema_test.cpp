// Which received texts the box stores, as what, and which it refuses.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "records/config_schema.h"
#include "settings_texts.h"

namespace {

TEST(ReceivedTexts, StoredCutOrRefused) {
  ASSERT_GT(SettingsTexts().size(), 20u);
  for (const SettingsText& row : SettingsTexts()) {
    SCOPED_TRACE(testing::PrintToString(row));
    const ConfigSetting* setting = FindConfigSetting(row.key);
    ASSERT_NE(setting, nullptr);
    std::string stored = "untouched";
    EXPECT_EQ(PrepareReceivedText(*setting, row.text, &stored), row.stored.has_value());
    EXPECT_EQ(stored, row.stored.value_or("untouched"));
  }
}

}  // namespace

#ifdef VB_SOURCE_DIR
// The manual page of the file is written by hand: it must name every key the
// daemon reads, with the length limit the daemon enforces for a text.
TEST(ConfigManualPage, NamesEveryKeyAndEveryTextLimit) {
  std::ifstream in(VB_SOURCE_DIR "/docs/man/vantagebridge.conf.5.scd");
  ASSERT_TRUE(in) << "manual page not found";
  std::map<std::string, std::string> entries;  // key -> its definition line
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] != '*') continue;
    for (size_t start = 0; (start = line.find('*', start)) != std::string::npos;) {
      const size_t end = line.find('*', start + 1);
      if (end == std::string::npos) break;
      entries[line.substr(start + 1, end - start - 1)] = line;
      start = end + 1;
    }
  }
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.key == nullptr) continue;
    SCOPED_TRACE(setting.key);
    auto entry = entries.find(setting.key);
    ASSERT_NE(entry, entries.end()) << "key missing from the manual page";
    const size_t limit = MaxStoredTextLength(setting.key);
    if (limit > 0) {
      EXPECT_NE(entry->second.find(std::to_string(limit)), std::string::npos) << entry->second;
    }
  }
}
#endif
