// The rows of tests/golden/settings_texts.json: a text sent for a text setting
// of the settings file, what the box stores of it, and what vb-web answers.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct SettingsText {
  std::string key;
  std::string text;
  std::optional<std::string> stored;  // nothing: the whole change is refused
  std::string web_refusal;            // part of vb-web's answer; empty: passed on
};

const std::vector<SettingsText>& SettingsTexts();

// {"cmd":"updateparam","name":...,"valueN":text}: the member of the first row
// that sets the key, alone.
std::string SettingsTextCommand(const SettingsText& row);

void PrintTo(const SettingsText& row, std::ostream* out);
