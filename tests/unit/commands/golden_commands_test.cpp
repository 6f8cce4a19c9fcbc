// Every row of the golden command table (tests/golden/camera_commands.json):
// the command text, with the camera's reports set as the row says, sends
// exactly the row's frames, numbered one after another, and runs exactly the
// row's shell commands. The system test of the camera commands reads the same
// table.
#include <cjson/cJSON.h>

#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "command_test_support.h"
#include "commands/dispatcher.h"
#include "read_file.h"
#include "writable_records.h"

namespace commands_test {
namespace {

std::string GoldenPath() {
  std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/../../golden/camera_commands.json";
}

// The camera's reports and link state a row may set, by the table's names.
struct StateField {
  const char* name;
  void (*set)(int32_t value);
};
const StateField kStateFields[] = {
    {"work_mode", [](int32_t v) { WritableHudState()->work_mode = static_cast<uint8_t>(v); }},
    {"focus_mode", [](int32_t v) { WritableHudState()->focus_mode = static_cast<uint8_t>(v); }},
    {"focus_range", [](int32_t v) { WritableLinkState()->focus_range = static_cast<uint32_t>(v); }},
    {"focus_assistants", [](int32_t v) { WritableLinkState()->focus_byte42 = static_cast<uint32_t>(v); }},
    {"shot_mode", [](int32_t v) { WritableLinkState()->shot_mode = static_cast<uint8_t>(v); }},
    {"shot_submode", [](int32_t v) { WritableLinkState()->shot_submode = static_cast<uint8_t>(v); }},
    {"timelapse_interval", [](int32_t v) { WritableHudState()->timelapse_interval = static_cast<uint16_t>(v); }},
    {"timelapse_duration", [](int32_t v) { WritableHudState()->timelapse_duration = static_cast<uint16_t>(v); }},
    {"zoom_level", [](int32_t v) { WritableMotionIntent()->zoom_level = v; }},
    {"gimbal_stopped", [](int32_t v) { WritableMotionIntent()->gimbal_stopped = static_cast<uint8_t>(v); }},
    {"pan_speed_wanted", [](int32_t v) { WritableMotionIntent()->pan_speed_wanted = v; }},
    {"link_up", [](int32_t v) { WritableLinkState()->link_up = static_cast<uint8_t>(v); }},
};

using State = std::vector<std::pair<std::string, int32_t>>;

struct GoldenRow {
  std::string name;
  std::string text;
  State state;  // the table's camera reports, then the row's own
  std::vector<std::string> frames;
  std::vector<std::string> shell;
};

State ReadState(const cJSON* object) {
  State state;
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, object) state.emplace_back(item->string, static_cast<int32_t>(item->valuedouble));
  return state;
}

std::vector<std::string> ReadTexts(const cJSON* array) {
  std::vector<std::string> texts;
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, array) texts.push_back(cJSON_IsString(item) ? item->valuestring : "<not a text>");
  return texts;
}

// "r012_zoom__3_1": the row's place and its member values, as a test name.
std::string RowName(size_t index, const cJSON* send) {
  std::string name = "r" + std::to_string(1000 + index).substr(1);
  const cJSON* item = nullptr;
  cJSON_ArrayForEach(item, send) {
    name += '_';
    if (!cJSON_IsString(item)) continue;
    for (const char* p = item->valuestring; *p != '\0'; ++p) {
      name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
  }
  return name;
}

std::vector<GoldenRow> LoadRows() {
  cJSON* root = cJSON_Parse(ReadFile(GoldenPath()).c_str());
  std::vector<GoldenRow> rows;
  if (root == nullptr) return rows;
  const State camera = ReadState(cJSON_GetObjectItem(root, "camera"));
  const cJSON* row = nullptr;
  cJSON_ArrayForEach(row, cJSON_GetObjectItem(root, "rows")) {
    const cJSON* send = cJSON_GetObjectItem(row, "send");
    char* command = cJSON_PrintUnformatted(send);
    GoldenRow golden{RowName(rows.size(), send), command != nullptr ? command : "", camera, {}, {}};
    cJSON_free(command);
    for (auto& field : ReadState(cJSON_GetObjectItem(row, "given"))) golden.state.push_back(field);
    golden.frames = ReadTexts(cJSON_GetObjectItem(row, "frames"));
    golden.shell = ReadTexts(cJSON_GetObjectItem(row, "shell"));
    rows.push_back(std::move(golden));
  }
  cJSON_Delete(root);
  return rows;
}

void PrintTo(const GoldenRow& row, std::ostream* out) { *out << row.text; }

const std::vector<GoldenRow>& Rows() {
  static const std::vector<GoldenRow> rows = LoadRows();
  return rows;
}

class GoldenCommand : public CommandTest, public testing::WithParamInterface<GoldenRow> {};

TEST(GoldenCommandTable, Loads) { EXPECT_GT(Rows().size(), 100u) << GoldenPath(); }

TEST_P(GoldenCommand, SendsExactlyItsFrames) {
  const GoldenRow& row = GetParam();
  for (const auto& [name, value] : row.state) {
    bool known = false;
    for (const StateField& field : kStateFields) {
      if (name == field.name) {
        field.set(value);
        known = true;
      }
    }
    EXPECT_TRUE(known) << "no such camera state: " << name;
  }
  const uint32_t first = GetLinkState()->sequence.load();
  Logged([&] { RunCommandText(row.text.c_str(), static_cast<int>(row.text.size())); });
  const std::vector<SentFrame> frames = FramesSoFar(end_);
  EXPECT_EQ(Texts(frames), row.frames);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].sequence, static_cast<uint16_t>(first + i)) << "frame " << i;
  }
  EXPECT_EQ(ShellTakeLog(), row.shell);
}

INSTANTIATE_TEST_SUITE_P(Table, GoldenCommand, testing::ValuesIn(Rows()),
                         [](const testing::TestParamInfo<GoldenRow>& info) { return info.param.name; });

}  // namespace
}  // namespace commands_test
