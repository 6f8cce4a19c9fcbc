// What the journal is told of a command: compact JSON with the passwords
// masked, escaped control characters, valid UTF-8, and never the text of
// something that is no JSON object.
#include <gtest/gtest.h>

#include <string>

#include "platform/event_journal.h"

namespace {

struct Row {
  const char* name;
  std::string text;
  std::string written;
};

const Row kRows[] = {
    {"Wi-Fi passwords masked, the rest kept",
     R"({"cmd":"updateparam","name":"wifi","value5":"Home","value6":"secret1","value9":"boxpass"})",
     R"({"cmd":"updateparam","name":"wifi","value5":"Home","value6":"***","value9":"***"})"},
    {"members named for secrets, any case",
     R"({"cmd":"x","ap_psk":"a","Password":"b","pin":"1234","param":"c"})",
     R"({"cmd":"x","ap_psk":"***","Password":"***","pin":"***","param":"c"})"},
    {"control characters escaped", "{\"cmd\":\"a\x1b[2Jb\\n\"}", R"({"cmd":"a\u001b[2Jb\n"})"},
    {"bytes that are no UTF-8", "{\"cmd\":\"\xff\xc3\xa9\"}", "{\"cmd\":\"?\xc3\xa9\"}"},
    {"not JSON: its length only", R"({cmd: iso, "value6":"secret"})", "(not a JSON object: 29 bytes)"},
    {"an array is no command", R"(["wifi","secret"])", "(not a JSON object: 17 bytes)"},
};

TEST(EventJournal, CommandsAreWrittenMaskedAndEscaped) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(MaskedCommand(row.text.data(), static_cast<int>(row.text.size())), row.written);
  }
}

}  // namespace
