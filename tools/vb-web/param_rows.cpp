#include "param_rows.h"

#include "common/json_text.h"
#include "records/config_schema.h"
#include "records/param_schema.h"

namespace {

const char* KindName(ParamValue value) {
  switch (value) {
    case ParamValue::kTruthWord:
      return "truth";
    case ParamValue::kNumber:
      return "number";
    case ParamValue::kText:
      return "text";
    case ParamValue::kChoice:
      return "choice";
    default:
      return "argument";
  }
}

void AppendText(std::string* out, const char* name, const char* text) {
  *out += std::string("\"") + name + "\":\"";
  AppendJsonEscaped(out, text);
  *out += "\"";
}

void AppendMember(std::string* out, const ParamMember& member) {
  *out += "{";
  AppendText(out, "member", member.member);
  *out += ",";
  AppendText(out, "kind", KindName(member.value));
  const ConfigSetting* setting = member.setting ? FindConfigSetting(member.setting) : nullptr;
  if (setting && setting->report.key) {
    *out += ",";
    AppendText(out, "key", setting->report.key);
  }
  if (member.passphrase) *out += ",\"password\":true";
  if (!member.choices.empty()) {
    *out += ",\"choices\":[";
    for (const ParamChoice& choice : member.choices) {
      if (&choice != member.choices.data()) *out += ",";
      *out += "{";
      AppendText(out, "word", choice.word);
      *out += ",";
      // The report shows an interface as its selector word, other settings as stored.
      AppendText(out, "reported", setting->rule == ConfigRule::kInterface ? choice.word : choice.stored);
      *out += ",";
      AppendText(out, "label", choice.label);
      *out += "}";
    }
    *out += "]";
  }
  *out += "}";
}

}  // namespace

std::string ParamRowsJson() {
  std::string out = "[";
  for (const ParamRow& row : kParamRows) {
    if (out.size() > 1) out += ",";
    out += "{";
    AppendText(&out, "name", row.name);
    out += ",\"members\":[";
    const auto members = MembersOf(row);
    for (const ParamMember& member : members) {
      if (&member != members.data()) out += ",";
      AppendMember(&out, member);
    }
    out += "]}";
  }
  return out + "]";
}
