// Every text the box stores reads back as itself after a restart: the record
// goes to the file text, the file text through the loader, and the record that
// comes back is the same, for every text setting of the schema at its limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/keys.h"
#include "config/loader.h"
#include "config/writer.h"
#include "records/config_schema.h"
#include "records/shared_config.h"

namespace {

std::string FieldOf(const ConfigSetting& setting) {
  const char* field = reinterpret_cast<const char*>(GetSharedConfig()) + setting.offset;
  return std::string(field, strnlen(field, setting.size));
}

// Saves the record as the file text and loads that text; true when the
// record came back byte for byte.
bool ComesBackThroughTheFile() {
  SharedConfig before = *GetSharedConfig();
  std::string text;
  FormatConfigurationFile(before, &text);
  ParseConfigurationText(text.c_str());
  return std::memcmp(GetSharedConfig(), &before, sizeof before) == 0;
}

// n bytes of the characters that mean something to the loader, in places where
// the file keeps them: "=", ":", ";" after a letter, "#", brackets, inner
// spaces, and double quotes where the text is written bare.
std::string Awkward(const ConfigSetting& setting, size_t n) {
  const std::string pattern = setting.rule == ConfigRule::kQuotedText ? "k=v:w;#[x] \xC3\xA9" : "k=v:w;#[x] \"";
  std::string text;
  while (text.size() < n) text += pattern;
  text.resize(n);
  if (text.back() == ' ') text.back() = 'z';
  return text;
}

class RoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override { ParseConfigurationText(""); }
};

TEST_F(RoundTripTest, EveryTextSettingAtItsLimitAndOnePast) {
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.key == nullptr || !IsTextRule(setting.rule)) continue;
    SCOPED_TRACE(setting.key);
    const std::string longest = Awkward(setting, setting.limit.max);
    std::string stored;

    ASSERT_TRUE(PrepareReceivedText(setting, longest, &stored));
    EXPECT_EQ(stored, longest);
    StoreSettingValue(setting, stored.c_str());
    EXPECT_TRUE(ComesBackThroughTheFile());
    EXPECT_EQ(FieldOf(setting), longest);

    bool accepted = PrepareReceivedText(setting, longest + "x", &stored);
    if (setting.limit.over == OverLimit::kRefuse) {
      EXPECT_FALSE(accepted);
    } else {
      ASSERT_TRUE(accepted);
      EXPECT_EQ(stored, longest);
    }
  }
}

// A hand-edited file: a value as long as the line allows reads back as itself;
// one byte more is cut, and from then on reads back unchanged.
TEST_F(RoundTripTest, HandEditedTextsAtTheLineLimitAndOnePast) {
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.key == nullptr || !IsTextRule(setting.rule)) continue;
    SCOPED_TRACE(setting.key);
    const size_t limit = FileTextLimit(setting);
    for (size_t length : {limit, limit + 1}) {
      std::string value = Awkward(setting, length);
      std::string line = std::string(setting.key) + "=" + value;
      if (setting.rule == ConfigRule::kQuotedText) line = std::string(setting.key) + "=\"" + value + "\"";
      ParseConfigurationText((line + "\r\n").c_str());
      EXPECT_EQ(FieldOf(setting), value.substr(0, limit)) << length;
      EXPECT_TRUE(ComesBackThroughTheFile()) << length;
    }
  }
}

TEST_F(RoundTripTest, NumbersAtTheirLimits) {
  for (const char* line : {"shield_timeout=2147484", "shield_timeout=-2147484", "camera_type=-1",
                           "ap_channel=-2147483649", "rc_input_speed_pan=2147483648",
                           "control_enabled=-7"}) {
    ParseConfigurationText(line);
    EXPECT_TRUE(ComesBackThroughTheFile()) << line;
  }
}

}  // namespace
