#include "config/loader.h"

#include <fcntl.h>
#include <ini.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "config/keys.h"
#include "config/shared_config.h"

namespace {

constexpr char kConfigFileName[] = "vantagebridge.conf";
constexpr char kConfigMemName[] = "/config_mem";

// 32 empty channel entries.
constexpr char kDefaultRcMap[] = ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,";
static_assert(sizeof(kDefaultRcMap) == 32);

void* g_config_mem = nullptr;  // kept for the life of the process

// Sibling processes may map "/config_mem"; this program leaves its contents alone.
void* MapConfigMem() {
  int fd = shm_open(kConfigMemName, O_RDWR, 0600);
  if (fd < 0) fd = shm_open(kConfigMemName, O_RDWR | O_CREAT, 0600);
  if (fd < 0) return nullptr;
  if (ftruncate(fd, sizeof(SharedConfig)) != 0) {
    // Mapping an object shorter than the record would fault on first touch.
    close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, sizeof(SharedConfig), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return p == MAP_FAILED ? nullptr : p;
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
    // As ini_parse does, with the file close-on-exec.
    FILE* file = fopen(path, "re");
    if (file == nullptr) return -1;
    const int result = ini_parse_file(file, SetConfigKey, nullptr);
    fclose(file);
    return result;
  });
}

int ParseConfigurationText(const char* text) {
  return ParseIntoRecord([text] { return ini_parse_string(text, SetConfigKey, nullptr); });
}

intptr_t LoadConfiguration() {
  int result = ParseConfigurationFile(kConfigFileName);
  if (result < 0) return result;
  if (g_config_mem == nullptr) g_config_mem = MapConfigMem();
  return reinterpret_cast<intptr_t>(g_config_mem);
}
