#include "config/loader.h"

#include <ini.h>

#include <cstdio>
#include <cstring>

#include "config/keys.h"
#include "platform/owned_shared_memory.h"
#include "records/config_schema.h"
#include "records/shared_config.h"

namespace {

constexpr char kConfigFileName[] = "vantagebridge.conf";
constexpr char kConfigMemName[] = "/config_mem";

static_assert(sizeof(kDefaultRcMap) == 32);

void* g_config_mem = nullptr;  // kept for the life of the process

// Sibling processes may map "/config_mem"; this program leaves its contents alone.
void* MapConfigMem() { return MapOwnedSharedMemory(kConfigMemName, sizeof(SharedConfig)); }

// Where the line reader takes its characters from: a file or a text in memory.
struct LineSource {
  FILE* file;
  const char* text;
};

int NextCharacter(LineSource* source) {
  if (source->file != nullptr) return getc(source->file);
  if (*source->text == '\0') return EOF;
  return static_cast<unsigned char>(*source->text++);
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

int ParseLines(LineSource source) {
  return ini_parse_stream(ReadWholeLine, &source, SetConfigKey, nullptr);
}

// The loader's record steps around one ini parse (from a file or a text).
template <typename Parse>
int ParseIntoRecord(Parse parse) {
  SharedConfig* config = GetSharedConfig();
  std::memset(config, 0, sizeof *config);
  std::memcpy(config->rc2_input_mode, "sbus", 5);
  std::memcpy(config->rc_input_mode, "pwm", 4);

  int result = parse();
  if (result < 0) return result;

  if (config->rc_input_map[0] == '\0') std::memcpy(config->rc_input_map, kDefaultRcMap, sizeof kDefaultRcMap);
  return result;
}

}  // namespace

int ParseConfigurationFile(const char* path) {
  return ParseIntoRecord([path] {
    FILE* file = fopen(path, "re");  // close-on-exec, like every descriptor of the daemon
    if (file == nullptr) return -1;
    int result = ParseLines({file, nullptr});
    fclose(file);
    return result;
  });
}

int ParseConfigurationText(const char* text) {
  return ParseIntoRecord([text] { return ParseLines({nullptr, text != nullptr ? text : ""}); });
}

intptr_t LoadConfiguration() { return LoadConfigurationFrom(kConfigFileName); }

intptr_t LoadConfigurationFrom(const char* path) {
  int result = ParseConfigurationFile(path);
  if (result < 0) return result;
  if (g_config_mem == nullptr) g_config_mem = MapConfigMem();
  return reinterpret_cast<intptr_t>(g_config_mem);
}
