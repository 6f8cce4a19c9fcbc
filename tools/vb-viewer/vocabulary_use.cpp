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
  const CommandWord* word = FindCommandWord(words[0].c_str());
  if (!word) {
    *error = "unknown command " + words[0] + " (see --commands)";
    return false;
  }
  std::vector<std::string> values(words.begin() + 1, words.end());
  const bool param_given = TakesParam(*word), value1_given = TakesValue1(*word), value2_given = TakesValue2(*word);
  size_t wanted = (param_given ? 1 : 0) + (value1_given ? 1 : 0) + (value2_given ? 1 : 0);
  if (values.size() > wanted) {
    *error = words[0] + " takes at most " + std::to_string(wanted) + " value(s)";
    return false;
  }
  size_t next = 0;
  auto take = [&](bool given) -> const char* {
    if (!given || next >= values.size()) return nullptr;
    return values[next++].c_str();
  };
  const char* param = take(param_given);
  const char* value1 = take(value1_given);
  const char* value2 = take(value2_given);
  char text[1024];
  size_t n = BuildCommandText(*word, param, value1, value2, text, sizeof text);
  if (n == 0) {
    *error = words[0] + " needs its value: " + (param_given ? CommandParamHint(*word) : "?");
    return false;
  }
  json->assign(text, n);
  return true;
}

void PrintVocabulary(FILE* out) { PrintCommandVocabulary(out); }
