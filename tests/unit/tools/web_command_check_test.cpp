// What vb-web lets through to the box's mailbox, and in what form.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "../../../tools/vb-web/camera_choices.h"
#include "../../../tools/vb-web/command_check.h"
#include "../../../tools/vb-web/json_document.h"
#include "../../../tools/vb-web/param_rows.h"
#include "config/app_command.h"
#include "config/param_updates.h"
#include "config/report.h"
#include "config/writer.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "records/reset.h"
#include "records/shared_config.h"
#include "records/viewer_protocol.h"
#include "settings_texts.h"

namespace {

TEST(WebCommandCheck, RequestsAreAcceptedOrRefusedWithTheRightStatus) {
  struct Row {
    std::string body;
    int status;
    const char* error_part;  // nullptr when accepted
  };
  const Row rows[] = {
      {R"({"cmd":"iso","param":"400"})", 200, nullptr},
      {R"(  {"cmd" : "record", "param":"start"}  )", 200, nullptr},
      {R"({"cmd":"updateparam","name":"unrelated","value":")" + std::string(300, 'x') + "\"}", 200, nullptr},
      {"", 400, "not a JSON object"},
      {"{cmd:iso}", 400, "not a JSON object"},
      {R"({"cmd":"iso"} trailing)", 400, "not a JSON object"},
      {R"(["iso"])", 400, "not a JSON object"},
      {std::string("{\"cmd\":\"iso\"}\0x", 15), 400, "NUL"},
      {R"({"cmd":"iso","param":400})", 400, "\"param\" is not a text"},
      {R"({"cmd":"iso","param":{"a":"b"}})", 400, "not a text"},
      {R"({"cmd":"iso","CMD":"reboot"})", 400, "given twice"},
      {R"({"param":"400"})", 400, "no \"cmd\""},
      {R"({"cmd":""})", 400, "no \"cmd\""},
      {R"({"cmd":"iso","param":"4\u00010"})", 400, "control character"},
      {R"({"cmd":"iso","param":")" + std::string(600, '4') + "\"}", 413, "mailbox"},
      {std::string(kMaxRequestBody + 1, ' '), 413, "too long"},
  };
  for (const Row& row : rows) {
    const CheckedCommand c = CheckCommand(row.body);
    EXPECT_EQ(c.status, row.status) << row.body.substr(0, 80);
    if (row.error_part) {
      EXPECT_NE(c.error.find(row.error_part), std::string::npos) << c.error;
    }
  }
}

TEST(WebCommandCheck, TheMailboxGetsTheCompactTextAndTheReportIsWantedAfterSettings) {
  CheckedCommand c = CheckCommand(" { \"cmd\" : \"updateparam\", \"name\":\"osd_borders\", \"value\" : \"12\" } ");
  ASSERT_EQ(c.status, 200);
  EXPECT_EQ(c.text, R"({"cmd":"updateparam","name":"osd_borders","value":"12"})");
  EXPECT_TRUE(c.settings);
  EXPECT_FALSE(c.report);
  c = CheckCommand(R"({"cmd":"configrequest"})");
  EXPECT_TRUE(c.report);
  EXPECT_FALSE(c.settings);
  // Quotes and non-ASCII texts survive the round trip, escaped as JSON.
  c = CheckCommand(R"({"cmd":"color","param":"a\\b \u00e9"})");
  ASSERT_EQ(c.status, 200);
  EXPECT_EQ(c.text, "{\"cmd\":\"color\",\"param\":\"a\\\\b \xC3\xA9\"}");
}

// The settings texts of the golden table: vb-web refuses, with a reason, what
// the box would cut, change or refuse.
TEST(WebCommandCheck, SettingsTextsThatTheFileCannotHoldAreRefused) {
  for (const SettingsText& row : SettingsTexts()) {
    const CheckedCommand c = CheckCommand(SettingsTextCommand(row));
    EXPECT_EQ(c.status, row.web_refusal.empty() ? 200 : 400) << testing::PrintToString(row) << ": " << c.error;
    EXPECT_NE(c.error.find(row.web_refusal), std::string::npos) << testing::PrintToString(row) << ": " << c.error;
  }
}

TEST(WebCommandCheck, ThePagesChoicesAreTheCameraTablesAsTheBoxReadsThem) {
  const std::string choices = CameraChoicesJson();
  for (const char* part : {"\"iso\":[\"auto\",\"100\",", "{\"name\":\"3.2s\",\"code\":131075}",
                           "{\"name\":\"1.25\",\"code\":1671169}", "\"aperture\":[\"1.7\",\"1.8\",\"2.0\",",
                           "\"16.0\"]", "\"ev\":[\"-3.0\",\"-2.7\",", "\"-0.3\",\"0.0\",\"0.3\"", "\"3.0\"]}"}) {
    EXPECT_NE(choices.find(part), std::string::npos) << part << " in " << choices;
  }
}

// Each row the page gets, sent as the page sends it with a value of its own
// for every member, passes vb-web's check and changes in the daemon the report
// keys the row names, each to the value the page then expects to read there.
TEST(WebCommandCheck, EachRowThePageGetsChangesTheReportKeysItNames) {
  char folder[] = "/tmp/vb-webrows-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string boot = std::string(folder) + "/vantagebridge-cable.conf";
  SetBootConfigPathForTest(boot.c_str());
  SkipSleepsForFuzzing(true);
  const JsonPtr rows(cJSON_Parse(ParamRowsJson().c_str()));
  ASSERT_TRUE(cJSON_IsArray(rows.get()));
  int tried = 0;
  const cJSON* row = nullptr;
  cJSON_ArrayForEach(row, rows.get()) {
    const std::string name = cJSON_GetStringValue(cJSON_GetObjectItem(row, "name"));
    JsonPtr command(cJSON_CreateObject());
    cJSON_AddStringToObject(command.get(), "cmd", "updateparam");
    cJSON_AddStringToObject(command.get(), "name", name.c_str());
    std::vector<std::pair<std::string, std::string>> wanted;  // report key, value
    int index = 0;
    const cJSON* member = nullptr;
    cJSON_ArrayForEach(member, cJSON_GetObjectItem(row, "members")) {
      const std::string kind = cJSON_GetStringValue(cJSON_GetObjectItem(member, "kind"));
      const char* key = cJSON_GetStringValue(cJSON_GetObjectItem(member, "key"));
      const cJSON* choices = cJSON_GetObjectItem(member, "choices");
      std::string text = std::to_string(++index);
      std::string shown = text;
      if (kind == "truth") {
        text = "true";
        shown = "1";
      } else if (kind == "text") {
        text = shown = (cJSON_IsTrue(cJSON_GetObjectItem(member, "password")) ? "password" : "t") + text;
      } else if (kind == "choice") {
        // Never the first choice (an empty interface, as the reset record has); neighbours differ.
        const int count = cJSON_GetArraySize(choices);
        const cJSON* choice = cJSON_GetArrayItem(choices, count > 1 ? 1 + index % (count - 1) : 0);
        text = cJSON_GetStringValue(cJSON_GetObjectItem(choice, "word"));
        shown = cJSON_GetStringValue(cJSON_GetObjectItem(choice, "reported"));
      }
      cJSON_AddStringToObject(command.get(), cJSON_GetStringValue(cJSON_GetObjectItem(member, "member")), text.c_str());
      if (key) wanted.emplace_back(key, shown);
      else EXPECT_EQ(kind, "argument") << name;
    }
    if (wanted.empty()) continue;  // no setting the page shows
    ASSERT_EQ(wanted.size(), static_cast<size_t>(index)) << name << ": the page sends a row whole or not at all";
    const std::string text = CompactJson(command.get());
    const CheckedCommand checked = CheckCommand(text);
    ASSERT_EQ(checked.status, 200) << text << ": " << checked.error;

    ResetRecords();
    ApplyParameterUpdate(ReadAppCommand(command.get()));
    char out[kMaxDataPayload + 1];
    ASSERT_GT(FormatConfigReport(SnapshotSharedConfig(), {}, out, sizeof out), 0);
    const JsonPtr report(cJSON_Parse(out));
    for (const auto& [key, value] : wanted) {
      const cJSON* item = cJSON_GetObjectItemCaseSensitive(report.get(), key.c_str());
      const std::string reported = cJSON_IsNumber(item) ? std::to_string(item->valueint)
                                   : cJSON_IsString(item) ? item->valuestring : "(none)";
      EXPECT_EQ(reported, value) << text << " for " << key;
    }
    ++tried;
  }
  EXPECT_EQ(tried, cJSON_GetArraySize(rows.get()) - 1) << "every row but the HDMI mode, which stores nothing";
  ShellTakeLog();
  SkipSleepsForFuzzing(false);
  SetBootConfigPathForTest(nullptr);
  unlink(boot.c_str());
  rmdir(folder);
}

}  // namespace
