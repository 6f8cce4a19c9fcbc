#include "platform/shell.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace {
std::mutex g_mutex;
bool g_record_only = false;
std::vector<std::string> g_log;
std::vector<std::pair<std::string, std::string>> g_canned;
std::vector<FILE*> g_open_canned;  // streams over canned text

// Records the line; returns true when it must not run.
bool Record(const char* line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_log.emplace_back(line);
  if (g_log.size() > 10000) g_log.erase(g_log.begin());
  return g_record_only;
}
}  // namespace

int RunShellCommand(const char* command_line) {
  if (Record(command_line)) return 0;
  return system(command_line);
}

FILE* OpenShellOutput(const char* command_line) {
  if (!Record(command_line)) return popen(command_line, "re");
  std::lock_guard<std::mutex> lock(g_mutex);
  FILE* stream = tmpfile();
  if (!stream) return nullptr;
  for (const auto& [prefix, output] : g_canned) {
    if (std::strncmp(command_line, prefix.c_str(), prefix.size()) == 0) {
      fwrite(output.data(), 1, output.size(), stream);
      break;
    }
  }
  rewind(stream);
  g_open_canned.push_back(stream);
  return stream;
}

int CloseShellOutput(FILE* stream) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_open_canned.begin(); it != g_open_canned.end(); ++it) {
      if (*it == stream) {
        g_open_canned.erase(it);
        fclose(stream);
        return 0;
      }
    }
  }
  return pclose(stream);
}

void ShellRecordOnly(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_record_only = on;
}

void ShellSetCannedOutput(const std::string& line_prefix, const std::string& output) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto& entry : g_canned) {
    if (entry.first == line_prefix) {
      entry.second = output;
      return;
    }
  }
  g_canned.emplace_back(line_prefix, output);
}

std::vector<std::string> ShellTakeLog() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<std::string> out;
  out.swap(g_log);
  return out;
}
