// vb-rc: stands in for the rcin process. It writes the RC input status, the
// channel values and the per-function RC entries into "/hud_mem", from its
// arguments or from a script of timed steps.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/keys.h"
#include "records/hud_state.h"

namespace {

constexpr char kHelp[] =
    "usage: vb-rc [--status N] [--suspend | --resume] [ASSIGNMENT ...]\n"
    "       vb-rc [--status N] --script \"t=0 pan=0.5 tilt=0; t=2 pan=0; t=3 record=1\"\n"
    "\n"
    "Stands in for the RC receiver reader: writes RC values into the shared\n"
    "status record \"/hud_mem\", which the daemon makes (start it first).\n"
    "\n"
    "  --status N     RC input status byte (default 6: RC mapping runs)\n"
    "  --suspend      set the RC suspended byte (mapping pauses)\n"
    "  --resume       clear it (the default)\n"
    "  --script TEXT  steps separated by ';', each \"t=SECONDS\" then assignments;\n"
    "                 a step is applied SECONDS after the start, in order\n"
    "  -h, --help     this text\n"
    "\n"
    "Assignments:\n"
    "  NAME=V         function NAME (as in rc_input_map: pan, tilt, record,\n"
    "                 record-shot, menu, ev, zoom, focus, dutch, focus-pan,\n"
    "                 focus-tilt, digital-zoom, digital-zoom2, iso, shutter,\n"
    "                 aperture, videomode, custom-focus-assistant, center,\n"
    "                 intcamera, osd, orient-lock) becomes active with centred\n"
    "                 value V (-1..1) and position (V+1)/2; every channel mapped\n"
    "                 to it reads 1500 + 500 x V\n"
    "  NAME=off       the function is no longer driven\n"
    "  chK=US         raw value of RC channel K (0..31)\n"
    "  suspend=0|1    the RC suspended byte\n"
    "  status=N       the RC input status byte\n";

struct Step {
  double at_s = 0;
  std::vector<std::string> assignments;
};

// The daemon's record, as it made it: a tool never creates or resizes it.
HudState* MapRecord() {
  int fd = shm_open("/hud_mem", O_RDWR, 0);
  if (fd < 0) {
    fprintf(stderr, "vb-rc: cannot open /hud_mem (%s): is the daemon running?\n", strerror(errno));
    return nullptr;
  }
  struct stat st{};
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(HudState))) {
    fprintf(stderr, "vb-rc: /hud_mem is smaller than the record\n");
    close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, sizeof(HudState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    fprintf(stderr, "vb-rc: cannot map /hud_mem: %s\n", strerror(errno));
    return nullptr;
  }
  return static_cast<HudState*>(p);
}

bool ParseNumber(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool ParseInt(const std::string& text, long low, long high, long* out) {
  double v = 0;
  if (!ParseNumber(text, &v) || v != std::floor(v) || v < low || v > high) return false;
  *out = static_cast<long>(v);
  return true;
}

// Checks an assignment and, when hud is given, applies it.
bool Apply(HudState* hud, const std::string& assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) {
    fprintf(stderr, "vb-rc: not an assignment: %s\n", assignment.c_str());
    return false;
  }
  const std::string name = assignment.substr(0, eq);
  const std::string value = assignment.substr(eq + 1);
  long n = 0;
  if (name == "suspend" || name == "status") {
    if (!ParseInt(value, 0, 255, &n)) {
      fprintf(stderr, "vb-rc: bad value for %s: %s\n", name.c_str(), value.c_str());
      return false;
    }
    if (hud != nullptr && name == "suspend") hud->rc_suspended = static_cast<uint8_t>(n);
    if (hud != nullptr && name == "status") hud->rc_input_status = static_cast<uint8_t>(n);
    return true;
  }
  if (name.size() > 2 && name.compare(0, 2, "ch") == 0) {
    long channel = 0;
    if (!ParseInt(name.substr(2), 0, kRcChannelCount - 1, &channel) || !ParseInt(value, 0, 65535, &n)) {
      fprintf(stderr, "vb-rc: bad channel assignment: %s\n", assignment.c_str());
      return false;
    }
    if (hud != nullptr) hud->rc_channel_values[channel] = static_cast<uint16_t>(n);
    return true;
  }
  const int f = RcFunctionCode(name.c_str());
  if (f < 0 || f >= kRcFunctionCount) {
    fprintf(stderr, "vb-rc: unknown function: %s\n", name.c_str());
    return false;
  }
  if (value == "off") {
    if (hud != nullptr) hud->rc_function_active[f] = 0;
    return true;
  }
  double v = 0;
  if (!ParseNumber(value, &v)) {
    fprintf(stderr, "vb-rc: bad value for %s: %s\n", name.c_str(), value.c_str());
    return false;
  }
  if (hud == nullptr) return true;
  hud->rc_function_value[f] = v;
  hud->rc_function_position[f] = (v + 1) / 2;
  const double us = std::round(1500 + 500 * (v < -1 ? -1 : (v > 1 ? 1 : v)));
  for (int c = 0; c < kRcChannelCount; ++c) {
    if (hud->rc_channel_map[c] == f) hud->rc_channel_values[c] = static_cast<uint16_t>(us);
  }
  hud->rc_function_active[f] = 1;
  return true;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
    size_t start = i;
    while (i < text.size() && !isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

bool ParseScript(const std::string& script, std::vector<Step>* steps) {
  size_t start = 0;
  while (start <= script.size()) {
    size_t end = script.find(';', start);
    if (end == std::string::npos) end = script.size();
    const std::vector<std::string> words = Words(script.substr(start, end - start));
    start = end + 1;
    if (words.empty()) continue;
    Step step;
    for (const std::string& w : words) {
      if (w.compare(0, 2, "t=") == 0) {
        if (!ParseNumber(w.substr(2), &step.at_s) || step.at_s < 0) {
          fprintf(stderr, "vb-rc: bad time: %s\n", w.c_str());
          return false;
        }
      } else if (!Apply(nullptr, w)) {
        return false;
      } else {
        step.assignments.push_back(w);
      }
    }
    steps->push_back(step);
  }
  return true;
}

double SecondsSince(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  long status = 6;
  int suspend = 0;
  std::string script;
  std::vector<std::string> assignments;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--suspend") {
      suspend = 1;
    } else if (arg == "--resume") {
      suspend = 0;
    } else if (arg == "--status" && i + 1 < argc) {
      if (!ParseInt(argv[++i], 0, 255, &status)) {
        fprintf(stderr, "vb-rc: bad status: %s\n", argv[i]);
        return 2;
      }
    } else if (arg == "--script" && i + 1 < argc) {
      script = argv[++i];
    } else if (arg.compare(0, 2, "--") == 0) {
      fprintf(stderr, "vb-rc: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    } else if (Apply(nullptr, arg)) {
      assignments.push_back(arg);
    } else {
      return 2;
    }
  }
  std::vector<Step> steps;
  if (!ParseScript(script, &steps)) return 2;

  HudState* hud = MapRecord();
  if (hud == nullptr) return 1;
  hud->rc_input_status = static_cast<uint8_t>(status);
  hud->rc_suspended = static_cast<uint8_t>(suspend);
  for (const std::string& a : assignments) Apply(hud, a);

  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (const Step& step : steps) {
    const double wait_s = step.at_s - SecondsSince(start);
    if (wait_s > 0) {
      timespec pause{};
      pause.tv_sec = static_cast<time_t>(wait_s);
      pause.tv_nsec = static_cast<long>((wait_s - static_cast<double>(pause.tv_sec)) * 1e9);
      while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
      }
    }
    for (const std::string& a : step.assignments) Apply(hud, a);
    printf("vb-rc: t=%.1f applied %zu assignment(s)\n", SecondsSince(start), step.assignments.size());
    fflush(stdout);
  }
  return 0;
}
