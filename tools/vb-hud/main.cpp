// vb-hud: a live terminal view of what the box publishes in "/hud_mem" (link,
// video, viewers, attitude, camera status and settings, RC, shield, newest
// media file, the command mailbox), in "/vb_health" (temperature, power, free
// space, uptimes, each viewer's video) and whether the live video runs for
// browsers (vb-stream's status file), or with --json one snapshot for scripts
// and bug reports. It maps the records read-only and never writes them.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "../common/hud_reader.h"
#include "../common/tool_support.h"
#include "hud_screen.h"
#include "hud_snapshot.h"
#include "records/health_json.h"
#include "records/health_record.h"

namespace {

struct Options {
  const char* record = "/hud_mem";
  const char* health = kHealthRecordName;
  const char* stream_status = kStreamStatusPath;
  bool json = false;
  unsigned refresh_ms = 200;
};

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: vb-hud [options]\n"
               "  --json          print one snapshot as JSON and exit\n"
               "  --refresh MS    redraw every MS milliseconds (default 200)\n"
               "  --record NAME   the shared-memory object (default /hud_mem)\n"
               "  --health NAME   the health record (default /vb_health)\n"
               "  --stream-status FILE  vb-stream's status file (default %s)\n"
               "Keys: q quits.\n",
               kStreamStatusPath);
}

// 0 to go on, 1 to exit successfully (help), 2 on a bad option.
int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    double number = 0;
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      Usage(stdout);
      return 1;
    } else if (!std::strcmp(a, "--json")) {
      o->json = true;
    } else if (!std::strcmp(a, "--refresh") && v && ParseNumber(v, 20, 10000, &number)) {
      o->refresh_ms = static_cast<unsigned>(number);
      ++i;
    } else if (!std::strcmp(a, "--record") && v && v[0] == '/') {
      o->record = v;
      ++i;
    } else if (!std::strcmp(a, "--health") && v && v[0] == '/') {
      o->health = v;
    } else if (!std::strcmp(a, "--stream-status") && v) {
      o->stream_status = v;
      ++i;
    } else {
      ReportBadOption("vb-hud", a, v);
      Usage(stderr);
      return 2;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int parsed = ParseOptions(argc, argv, &options);
  if (parsed) return parsed == 1 ? 0 : 2;
  std::string error;
  HudReader reader(options.record);
  if (!reader.Refresh(&error)) {
    std::fprintf(stderr, "vb-hud: %s\n", error.c_str());
    return 1;
  }
  HudState copy;
  HealthRecord health{};
  std::string health_error;
  if (options.json) {
    const StreamStatus stream = ReadStreamStatus(options.stream_status);
    const bool consistent = reader.Snapshot(&copy) == HudCopy::kConsistent;
    std::string json = HudSnapshotJson(copy, consistent, options.record, stream);
    // One more member of the snapshot: the health record, or null without one.
    const bool have_health = ReadHealthRecord(options.health, &health, &health_error);
    json.insert(json.size() - 1, std::string(",\"health\":") +
                                     (have_health ? HealthJson(health, HealthClockMs()) : std::string("null")));
    std::printf("%s\n", json.c_str());
    return 0;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  OpenHudScreen();
  while (!g_stop) {
    const bool have_health = ReadHealthRecord(options.health, &health, &health_error);
    reader.Snapshot(&copy);
    DrawHudScreen(copy, have_health ? &health : nullptr, ReadStreamStatus(options.stream_status),
                  options.record, options.refresh_ms);
    if (HudScreenQuitKey(static_cast<int>(options.refresh_ms))) break;
  }
  CloseHudScreen();
  return 0;
}
