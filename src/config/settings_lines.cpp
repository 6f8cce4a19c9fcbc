#include "config/settings_lines.h"

#include <ini.h>

#include "records/config_schema.h"

namespace {

// Where the line reader takes its characters from: a file or a text in memory.
struct LineSource {
  FILE* file;
  const char* next;
  const char* end;
};

int NextCharacter(LineSource* source) {
  if (source->file != nullptr) return getc(source->file);
  if (source->next == source->end) return EOF;
  return static_cast<unsigned char>(*source->next++);
}

// fgets for inih, except that a line longer than the buffer loses its tail
// instead of handing the tail over as a line of its own, where a long value
// could otherwise end in a key of its own.
char* ReadWholeLine(char* buffer, int size, void* stream) {
  auto* source = static_cast<LineSource*>(stream);
  if (size < 1) return nullptr;
  int c = NextCharacter(source);
  if (c == EOF) return nullptr;
  size_t room = static_cast<size_t>(size) - 1;
  size_t used = 0;
  for (; c != EOF; c = NextCharacter(source)) {
    if (used < room) buffer[used++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[used] = '\0';
  return buffer;
}

int CountKey(void* user, const char* section, const char* key, const char* /*value*/) {
  if (section == nullptr || key == nullptr || section[0] != '\0' || FindConfigSetting(key) == nullptr) return 0;
  ++*static_cast<int*>(user);
  return 1;
}

}  // namespace

int ParseSettingsFile(FILE* file, SettingsLineHandler handler, void* user) {
  LineSource source{file, nullptr, nullptr};
  return ini_parse_stream(ReadWholeLine, &source, handler, user);
}

int ParseSettingsText(std::string_view text, SettingsLineHandler handler, void* user) {
  LineSource source{nullptr, text.data(), text.data() + text.size()};
  return ini_parse_stream(ReadWholeLine, &source, handler, user);
}

int CountConfigurationKeys(std::string_view text) {
  int keys = 0;
  ParseSettingsText(text, CountKey, &keys);
  return keys;
}
