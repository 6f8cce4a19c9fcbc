#include "commands/vocabulary.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::string Build(const char* name, const char* param, const char* value1, const char* value2) {
  const CommandWord* word = FindCommandWord(name);
  if (word == nullptr) return "<unknown>";
  char out[512];
  size_t n = BuildCommandText(*word, param, value1, value2, out, sizeof out);
  return n == 0 ? "<none>" : std::string(out, n);
}

TEST(Vocabulary, BuildsCommandTextsByName) {
  struct Row {
    const char* name;
    const char* param;
    const char* value1;
    const char* value2;
    const char* text;
  };
  const Row rows[] = {
      {"horizont/cw", nullptr, nullptr, nullptr, R"({"cmd":"horizont","param":"cw"})"},
      {"horizont/cw", "ignored", "1", "2", R"({"cmd":"horizont","param":"cw"})"},
      {"iso", "400", nullptr, nullptr, R"({"cmd":"iso","param":"400"})"},
      {"iso", nullptr, nullptr, nullptr, "<none>"},
      {"focus/point", nullptr, "0.25", "0.75", R"({"cmd":"focus","param":"point","value1":"0.25","value2":"0.75"})"},
      {"focus/point", nullptr, "0.25", nullptr, R"({"cmd":"focus","param":"point","value1":"0.25"})"},
      {"time", nullptr, "20240131235958", nullptr, R"({"cmd":"time","value1":"20240131235958"})"},
      {"calibratefocus", "x", "y", "z", R"({"cmd":"calibratefocus"})"},
      {"zoom", "-3", "1", nullptr, R"({"cmd":"zoom","param":"-3","value1":"1"})"},
      {"color", "black white", nullptr, nullptr, R"({"cmd":"color","param":"black white"})"},
      {"color", "a\"b\\c\n", nullptr, nullptr, R"({"cmd":"color","param":"a\"b\\c\n"})"},
      {"playback/delete", nullptr, nullptr, nullptr, R"({"cmd":"playback","param":"delete"})"},
      // The box's own words put their texts in the members the box reads.
      {"updateparam", "hud_enabled", "1", nullptr, R"({"cmd":"updateparam","name":"hud_enabled","value":"1"})"},
      {"rc/showchannels", nullptr, "true", nullptr, R"({"cmd":"rc","name":"showchannels","value":"true"})"},
      {"wlan/scan", nullptr, "2", nullptr, R"({"cmd":"wlan","param":"scan","value":"2"})"},
      {"restart", "x", "y", "z", R"({"cmd":"restart"})"},
      {"restore", nullptr, "4-1-9", nullptr, R"({"cmd":"restore","value":"4-1-9"})"},
      {"no/such", nullptr, nullptr, nullptr, "<unknown>"},
  };
  for (const Row& r : rows) EXPECT_EQ(Build(r.name, r.param, r.value1, r.value2), r.text) << r.name;
}

TEST(Vocabulary, TooSmallABufferGivesNothing) {
  const CommandWord* word = FindCommandWord("horizont/cw");
  ASSERT_NE(word, nullptr);
  const std::string full = R"({"cmd":"horizont","param":"cw"})";
  char out[64];
  EXPECT_EQ(BuildCommandText(*word, nullptr, nullptr, nullptr, out, full.size()), 0u);
  EXPECT_EQ(BuildCommandText(*word, nullptr, nullptr, nullptr, out, full.size() + 1), full.size());
  EXPECT_STREQ(out, full.c_str());
}

TEST(Vocabulary, NamesAreUniqueAndWordsComplete) {
  size_t count = 0;
  const CommandWord* words = CommandVocabulary(&count);
  std::set<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    const CommandWord& w = words[i];
    EXPECT_TRUE(names.insert(w.name).second) << w.name;
    ASSERT_NE(w.cmd, nullptr);
    ASSERT_NE(w.description, nullptr);
    // A name is the cmd, or cmd/param for a fixed param.
    const std::string expected = w.param ? std::string(w.cmd) + "/" + w.param : std::string(w.cmd);
    EXPECT_EQ(w.name, expected);
    EXPECT_FALSE(w.param != nullptr && (w.param_hint != nullptr || w.param_choice != nullptr)) << w.name;
    EXPECT_NE(w.route == nullptr, w.box_route == nullptr) << w.name << ": one route, the camera's or the box's";
  }
}

}  // namespace
