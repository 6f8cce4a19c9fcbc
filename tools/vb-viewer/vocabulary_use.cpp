#include "vocabulary_use.h"

#include <vector>

#include "commands/vocabulary.h"

namespace {

// Splits at blanks; "..." keeps blanks inside one word.
bool SplitWords(const std::string& line, std::vector<std::string>* words) {
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] == '"') {
      size_t close = line.find('"', i + 1);
      if (close == std::string::npos) return false;
      word = line.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      size_t end = line.find(' ', i);
      if (end == std::string::npos) end = line.size();
      word = line.substr(i, end - i);
      i = end;
    }
    words->push_back(word);
  }
  return true;
}

}  // namespace

bool BuildCommandLine(const std::string& line, std::string* json, std::string* error) {
  std::vector<std::string> words;
  if (!SplitWords(line, &words) || words.empty()) {
    *error = "command needs a NAME (see --commands)";
    return false;
  }
  const CameraCommandWord* word = FindCameraCommandWord(words[0].c_str());
  if (!word) {
    *error = "unknown command " + words[0] + " (see --commands)";
    return false;
  }
  std::vector<std::string> values(words.begin() + 1, words.end());
  size_t wanted = (word->param ? 0 : (word->param_hint ? 1 : 0)) + (word->value1_hint ? 1 : 0) +
                  (word->value2_hint ? 1 : 0);
  if (values.size() > wanted) {
    *error = words[0] + " takes at most " + std::to_string(wanted) + " value(s)";
    return false;
  }
  size_t next = 0;
  auto take = [&](const char* hint) -> const char* {
    if (!hint || next >= values.size()) return nullptr;
    return values[next++].c_str();
  };
  const char* param = word->param ? nullptr : take(word->param_hint);
  const char* value1 = take(word->value1_hint);
  const char* value2 = take(word->value2_hint);
  char text[1024];
  size_t n = BuildCameraCommand(*word, param, value1, value2, text, sizeof text);
  if (n == 0) {
    *error = words[0] + " needs its value: " + (word->param_hint ? CameraCommandParamHint(*word) : "?");
    return false;
  }
  json->assign(text, n);
  return true;
}

void PrintVocabulary(FILE* out) { PrintCameraVocabulary(out); }
