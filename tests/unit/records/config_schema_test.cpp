// Which received texts the box stores, as what, and which it refuses.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "records/config_schema.h"

namespace {

struct TextCase {
  const char* key;
  std::string received;
  std::optional<std::string> stored;  // nothing: refused
};

TEST(ReceivedTexts, StoredCutOrRefused) {
  const TextCase cases[] = {
      {"wifi_ssid", "My Net", "My Net"},
      {"wifi_ssid", std::string(32, 's'), std::string(32, 's')},
      {"wifi_ssid", std::string(33, 's'), std::nullopt},
      {"wifi_ssid", "Caf\xC3\xA9 \xE2\x98\x95", "Caf\xC3\xA9 \xE2\x98\x95"},
      {"wifi_ssid", "a\"b", std::nullopt},  // the loader removes every double quote
      {"ap_psk", std::string(63, 'p'), std::string(63, 'p')},
      {"ap_psk", std::string(64, 'p'), std::nullopt},
      {"ap_psk", "pass ;word", std::nullopt},  // the loader ends the value at " ;"
      {"ap_psk", "pass;word", "pass;word"},
      {"ap_psk", " both ends ", " both ends "},  // written between quotes: spaces stay
      {"ap_psk", "line\r\nbreak\x7F", "linebreak"},  // control characters dropped
      {"ap_psk", "tab\t;semicolon", "tab;semicolon"},
      {"rc_input_mode", "abcdefgh", "abcde"},
      {"rc_input_mode", " ppm", std::nullopt},  // written bare: the loader trims spaces
      {"rc_input_mode", "abcd efg", std::nullopt},  // cut to "abcd ", which would lose its space
      {"ap_country", "US\t", "US"},
      {"rc_input_map", "", ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,"},
      {"rc_input_map", "pan,tilt ;zoom", std::nullopt},
      {"rc_input_map", std::string(184, ','), std::string(184, ',')},
      {"rc_input_map", std::string(186, ',') + "disabled=1", std::nullopt},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " <" + c.received + ">");
    const ConfigSetting* setting = FindConfigSetting(c.key);
    ASSERT_NE(setting, nullptr);
    std::string stored = "untouched";
    bool accepted = PrepareReceivedText(*setting, c.received, &stored);
    if (!c.stored) {
      EXPECT_FALSE(accepted);
      EXPECT_EQ(stored, "untouched");
    } else {
      EXPECT_TRUE(accepted);
      EXPECT_EQ(stored, *c.stored);
    }
  }
}

TEST(ReceivedTexts, LimitsByKeyForTools) {
  EXPECT_EQ(MaxStoredTextLength("wifi_ssid"), 32u);
  EXPECT_EQ(MaxStoredTextLength("ap_psk"), 63u);
  EXPECT_EQ(MaxStoredTextLength("rc_input_map"), 184u);
  EXPECT_EQ(MaxStoredTextLength("rc_input_mode"), 5u);
  EXPECT_EQ(MaxStoredTextLength("control_enabled"), 0u);
  EXPECT_EQ(MaxStoredTextLength("lan_ssid"), 0u) << "report names are not keys of the file";
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
