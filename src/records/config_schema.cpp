#include "records/config_schema.h"

namespace {

constexpr bool WidthsFitRules() {
  for (const ConfigSetting& s : kConfigSchema) {
    switch (s.rule) {
      case ConfigRule::kFlag:
      case ConfigRule::kByte:
        if (s.size != 1) return false;
        break;
      case ConfigRule::kInt32:
      case ConfigRule::kMilliseconds:
        if (s.size != 4) return false;
        break;
      case ConfigRule::kText:
      case ConfigRule::kInterface:
      case ConfigRule::kQuotedText:
      case ConfigRule::kRcMap:
        if (s.key != nullptr && s.size < 2) return false;
        break;
    }
    if (s.key == nullptr && s.report.key == nullptr) return false;  // a row nobody uses
  }
  return true;
}
static_assert(WidthsFitRules());

constexpr bool KeysAreUnique() {
  int keys = 0;
  int index = 0;
  for (const ConfigSetting& s : kConfigSchema) {
    if (s.key != nullptr) {
      ++keys;
      if (ConfigSettingIndex(s.key) != index) return false;
    }
    ++index;
  }
  return keys == 48;
}
static_assert(KeysAreUnique());

constexpr bool ReportRanksAreDistinct() {
  for (size_t rank = 1; rank <= kConfigReportMemberCount; ++rank) {
    int rows = 0;
    for (const ConfigSetting& s : kConfigSchema) rows += s.report.key != nullptr && s.report.rank == rank ? 1 : 0;
    if (rows != 1) return false;
  }
  return true;
}
static_assert(ReportRanksAreDistinct());

// Every text a viewer may store fits a line of the file; numbers carry no limit.
constexpr bool LimitsFitTheFile() {
  for (const ConfigSetting& s : kConfigSchema) {
    bool text = s.key != nullptr && IsTextRule(s.rule);
    if (!text && s.limit.max != 0) return false;
    if (text && (s.limit.max == 0 || s.limit.max > FileTextLimit(s))) return false;
  }
  return true;
}
static_assert(LimitsFitTheFile());
static_assert(sizeof kDefaultRcMap - 1 <= 184);

// White space as the loader sees it (isspace in the C locale).
bool IsLoaderSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool Quoted(const ConfigSetting& setting) { return setting.rule == ConfigRule::kQuotedText; }

// Where the loader would end the value: at white space followed by ";".
size_t CommentStart(std::string_view text) {
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] == ';' && IsLoaderSpace(text[i - 1])) return i - 1;
  }
  return text.size();
}

}  // namespace

size_t MaxStoredTextLength(std::string_view key) {
  const ConfigSetting* setting = FindConfigSetting(key);
  return setting != nullptr ? setting->limit.max : 0;
}

bool ReadsBackUnchanged(const ConfigSetting& setting, std::string_view text) {
  if (setting.key == nullptr || !IsTextRule(setting.rule)) return false;
  if (text.size() > FileTextLimit(setting)) return false;
  if (setting.rule == ConfigRule::kRcMap && text.empty()) return false;
  if (text.find_first_of(std::string_view("\n\0", 2)) != std::string_view::npos) return false;
  if (CommentStart(text) != text.size()) return false;
  if (Quoted(setting)) return text.find('"') == std::string_view::npos;
  return text.empty() || (!IsLoaderSpace(text.front()) && !IsLoaderSpace(text.back()));
}

bool PrepareReceivedText(const ConfigSetting& setting, std::string_view received,
                         std::string* stored) {
  std::string text;
  for (char c : received) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) text.push_back(c);
  }
  if (setting.rule == ConfigRule::kRcMap && text.empty()) text = kDefaultRcMap;
  if (text.size() > setting.limit.max) {
    if (setting.limit.over == OverLimit::kRefuse) return false;
    text.resize(setting.limit.max);
  }
  if (!ReadsBackUnchanged(setting, text)) return false;
  *stored = std::move(text);
  return true;
}

std::string LoadedText(const ConfigSetting& setting, std::string_view value) {
  if (setting.size == 0) return std::string();
  std::string text(value.substr(0, std::min<size_t>(value.size(), setting.size - 1u)));
  text = text.substr(0, text.find_first_of(std::string_view("\n\0", 2)));
  if (Quoted(setting)) std::erase(text, '"');
  if (text.size() > FileTextLimit(setting)) text.resize(FileTextLimit(setting));
  text.resize(CommentStart(text));
  if (!Quoted(setting)) {
    size_t end = text.size();
    while (end > 0 && IsLoaderSpace(text[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && IsLoaderSpace(text[begin])) ++begin;
    text = text.substr(begin, end - begin);
  }
  if (setting.rule == ConfigRule::kRcMap && text.empty()) text = kDefaultRcMap;
  return text;
}
