#include "config/settings_lines.h"

#include <ini.h>

#include "records/config_schema.h"

namespace {

// Where the line reader takes its characters from: a file or a text in memory.
struct LineSource {
  FILE* file;
  const char* next;
  const char* end;
  int lines = 0;  // read so far
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
  ++source->lines;
  return buffer;
}

// inih calls a handler for the line it has just read.
struct NumberedLines {
  LineSource source;
  NumberedLineHandler handler;
  void* user;
};

char* ReadNumberedLine(char* buffer, int size, void* stream) {
  return ReadWholeLine(buffer, size, &static_cast<NumberedLines*>(stream)->source);
}

int CallNumbered(void* user, const char* section, const char* key, const char* value) {
  auto* lines = static_cast<NumberedLines*>(user);
  return lines->handler(lines->user, lines->source.lines, section, key, value);
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

int ParseSettingsTextByLine(std::string_view text, NumberedLineHandler handler, void* user) {
  NumberedLines lines{{nullptr, text.data(), text.data() + text.size()}, handler, user};
  return ini_parse_stream(ReadNumberedLine, &lines, CallNumbered, &lines);
}

int CountConfigurationKeys(std::string_view text) {
  int keys = 0;
  ParseSettingsText(text, CountKey, &keys);
  return keys;
}
