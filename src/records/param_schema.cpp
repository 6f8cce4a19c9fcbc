#include "records/param_schema.h"

namespace {

constexpr bool IsNumberRule(ConfigRule rule) { return !IsTextRule(rule) && rule != ConfigRule::kMilliseconds; }

// Each member goes to a setting of the file that holds its kind of value.
constexpr bool MemberFitsItsSetting(const ParamMember& m) {
  if (ValueMemberNumber(m.member) == 0) return false;
  if (m.value == ParamValue::kArgument) return m.setting == nullptr && m.choices.empty();
  const int index = m.setting != nullptr ? ConfigSettingIndex(m.setting) : -1;
  if (index < 0) return false;
  const ConfigRule rule = kConfigSchema[index].rule;
  if ((m.label != nullptr) != (m.value == ParamValue::kText)) return false;
  if (m.passphrase && rule != ConfigRule::kQuotedText) return false;
  if (m.choices.empty() == (m.value == ParamValue::kChoice)) return false;
  switch (m.value) {
    case ParamValue::kTruthWord:
      return rule == ConfigRule::kFlag;
    case ParamValue::kNumber:
      return IsNumberRule(rule);
    case ParamValue::kText:
      return IsTextRule(rule) && rule != ConfigRule::kInterface;
    case ParamValue::kChoice:
      return rule == ConfigRule::kInterface || IsNumberRule(rule);
    default:
      return false;
  }
}

constexpr bool SameText(const char* a, const char* b) { return std::string_view(a) == std::string_view(b); }

constexpr bool RowsAreWellFormed() {
  for (const ParamRow& row : kParamRows) {
    if (FindParamRow(row.name) != &row) return false;  // names are unique
    const auto members = MembersOf(row);
    if (members.empty() && row.action == ParamAction::kStore) return false;
    for (size_t i = 0; i < members.size(); ++i) {
      if (!MemberFitsItsSetting(members[i])) return false;
      if ((members[i].value == ParamValue::kArgument) != (row.action == ParamAction::kHdmiMode)) return false;
      for (size_t j = 0; j < i; ++j) {
        if (SameText(members[i].member, members[j].member)) return false;
      }
    }
    for (size_t i = members.size(); i < kMaxParamMembers; ++i) {
      if (row.members[i].member != nullptr) return false;  // nothing after the end of the list
    }
    // The HudState copy is of a one-byte flag.
    if (row.hud_flag != HudFlag::kNone) {
      if (members.size() != 1 || members[0].value != ParamValue::kTruthWord) return false;
    }
    // A change that restarts the daemon is undone when it cannot be saved:
    // number settings only, at most four bytes each to put back.
    if (row.exit_code != 0) {
      for (const ParamMember& m : members) {
        if (m.value != ParamValue::kNumber || kConfigSchema[ConfigSettingIndex(m.setting)].size > 4) return false;
      }
    }
    if (row.action == ParamAction::kHdmiMode && row.exit_code != 0) return false;
    // The echo shows every member, each once.
    if (row.echo != nullptr) {
      size_t shown = 0;
      for (std::string_view rest = row.echo; rest.find("%s") != std::string_view::npos; ++shown) {
        rest.remove_prefix(rest.find("%s") + 2);
      }
      if (shown != members.size()) return false;
    }
  }
  return true;
}
static_assert(RowsAreWellFormed());
static_assert(ValueMemberNumber("value") == 1 && ValueMemberNumber("value12") == 12);
static_assert(ValueMemberNumber("value1") == 0 && ValueMemberNumber("value13") == 0 &&
              ValueMemberNumber("value02") == 0 && ValueMemberNumber("valuex") == 0);

}  // namespace

const char* StoredForWord(std::span<const ParamChoice> choices, std::string_view word) {
  for (const ParamChoice& choice : choices) {
    if (word == choice.word) return choice.stored;
  }
  return nullptr;
}

const char* WordForStored(std::span<const ParamChoice> choices, std::string_view stored) {
  for (const ParamChoice& choice : choices) {
    if (stored == choice.stored) return choice.word;
  }
  return nullptr;
}

const char* InterfaceSelectorOf(std::string_view iface) {
  const char* word = WordForStored(kInterfaceSelectors, iface);
  return word != nullptr ? word : kInterfaceSelectors[0].word;
}
