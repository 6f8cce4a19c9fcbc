#include "hud_screen.h"

#include <curses.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "hud_snapshot.h"
#include "platform/health_sensors.h"
#include "records/health_json.h"

namespace {

enum Pair : short { kGood = 1, kBad, kTitle, kMuted };

// Prints a label in bold, then the value text.
void Field(int row, int col, const char* label, const std::string& value, short pair = 0) {
  attron(A_BOLD);
  mvaddstr(row, col, label);
  attroff(A_BOLD);
  if (pair) attron(COLOR_PAIR(pair));
  addch(' ');
  // Cut at the screen's edge: a long text (the mailbox) must not wrap over the rows below.
  addnstr(value.c_str(), std::max(0, COLS - getcurx(stdscr)));
  if (pair) attroff(COLOR_PAIR(pair));
}

void State(int row, int col, const char* label, bool good, const char* yes, const char* no) {
  Field(row, col, label, good ? yes : no, good ? kGood : kBad);
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string OnOff(uint8_t v) { return v ? "on" : "off"; }

std::string Duration(uint64_t ms) {
  const uint64_t s = ms / 1000;
  if (s < 60) return Printf("%.1f s", static_cast<double>(ms) / 1000.0);
  if (s < 3600) return Printf("%um%02us", static_cast<unsigned>(s / 60), static_cast<unsigned>(s % 60));
  return Printf("%uh%02um", static_cast<unsigned>(s / 3600), static_cast<unsigned>(s / 60 % 60));
}

std::string Size(uint64_t bytes) {
  const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
  return mib >= 1024 ? Printf("%.1f GiB", mib / 1024) : Printf("%.1f MiB", mib);
}

// The health record's lines; returns the next free row. Absent values read
// "absent": a board without the sensor, not a reading of zero.
int DrawHealth(int row, const HealthRecord* h) {
  if (h == nullptr) {
    Field(row, 0, "HEALTH", "no record (/vb_health): is the daemon running?", kBad);
    return row + 2;
  }
  const bool stale = HealthClockMs() - h->written_ms > kHealthStaleMs;
  Field(row, 0, "CPU", (h->present & kHealthTemperature) ? Printf("%.1f C", h->cpu_millicelsius / 1000.0) : "absent");
  if (h->present & kHealthUnderVoltage) {
    State(row, 16, "POWER", !h->under_voltage, "ok", "UNDER-VOLTAGE");
  } else {
    Field(row, 16, "POWER", "absent");
  }
  if (h->present & kHealthThrottleFlags) {
    const bool now = h->throttle_flags & (kThrottleThrottledNow | kThrottleFrequencyCappedNow);
    const bool earlier = h->throttle_flags & (kThrottleThrottledOccurred | kThrottleFrequencyCappedOccurred |
                                              kThrottleUnderVoltageOccurred);
    State(row, 38, "THROTTLED", !now, earlier ? "no (earlier: yes)" : "no", "YES");
  } else {
    Field(row, 38, "THROTTLED", "absent");
  }
  if (stale) Field(row, 66, "", "stale", kBad);
  ++row;
  Field(row, 0, "BOOT FREE",
        (h->present & kHealthBootSpace)
            ? Size(h->boot_free_bytes) + " of " + Size(h->boot_total_bytes)
            : std::string("absent"));
  Field(row, 38, "UPTIME", "box " + ((h->present & kHealthBoxUptime) ? Duration(h->box_uptime_ms) : "absent") +
                               "  daemon " + Duration(h->daemon_uptime_ms));
  ++row;
  Field(row, 0, "FIRST VIDEO", (h->present & kHealthFirstVideo) ? Duration(h->first_video_ms) + " after start"
                                                                 : std::string("none relayed yet"));
  ++row;
  // Each viewer's video, two to a line.
  int shown = 0;
  for (const HealthViewer& v : h->viewers) {
    if (v.address[0] == '\0') continue;
    const std::string who = RecordText(v.address, sizeof v.address) + ":" + std::to_string(v.port);
    const std::string text = v.data_only ? who + " data only"
                                         : Printf("%s sent %llu dropped %llu", who.c_str(),
                                                  static_cast<unsigned long long>(v.video_delivered),
                                                  static_cast<unsigned long long>(v.video_dropped));
    mvaddnstr(row + shown / 2, 2 + (shown % 2) * 40, text.c_str(), 38);
    ++shown;
  }
  return row + (shown + 1) / 2 + 1;
}

}  // namespace

void OpenHudScreen() {
  initscr();
  cbreak();
  noecho();
  curs_set(0);
  keypad(stdscr, TRUE);
  if (has_colors()) {
    start_color();
    use_default_colors();
    init_pair(kGood, COLOR_GREEN, -1);
    init_pair(kBad, COLOR_RED, -1);
    init_pair(kTitle, COLOR_CYAN, -1);
    init_pair(kMuted, COLOR_YELLOW, -1);
  }
}

void CloseHudScreen() { endwin(); }

void DrawHudScreen(const HudState& s, const HealthRecord* health, const StreamStatus& stream, const char* record_name,
                   unsigned refresh_ms) {
  erase();
  int row = 0;
  std::string title = RecordText(s.title, sizeof s.title);
  std::string version = RecordText(s.version_text, sizeof s.version_text);
  time_t now = time(nullptr);
  char clock[16];
  std::strftime(clock, sizeof clock, "%H:%M:%S", std::localtime(&now));
  attron(COLOR_PAIR(kTitle) | A_BOLD);
  // The daemon blanks its title and version while the camera link is up.
  mvaddstr(row, 0, Printf("vb-hud  %s  %s %s", record_name, title.c_str(), version.c_str()).c_str());
  attroff(COLOR_PAIR(kTitle) | A_BOLD);
  mvaddstr(row, COLS > 30 ? COLS - 22 : 40, Printf("%s every %u ms", clock, refresh_ms).c_str());
  row += 2;

  State(row, 0, "LINK", s.data_connected, "up", "down");
  State(row, 15, "TELEMETRY", s.telemetry_connected, "up", "down");
  State(row, 35, "VIDEO", s.video_connected, "connected", "disconnected");
  Field(row, 60, "VIEWERS", Printf("%u", s.client_count));
  ++row;
  std::string telemetry_text = RecordText(s.telemetry_text, sizeof s.telemetry_text);
  std::string video_text = RecordText(s.video_text, sizeof s.video_text);
  if (!telemetry_text.empty() || !video_text.empty()) {
    attron(COLOR_PAIR(kMuted));
    mvaddstr(row, 2, (telemetry_text + (telemetry_text.empty() || video_text.empty() ? "" : ", ") + video_text).c_str());
    attroff(COLOR_PAIR(kMuted));
  }
  ++row;
  State(row, 0, "LIVE VIDEO", StreamRunning(stream), "running", "not running");
  if (stream.fresh) {
    Field(row, 35, "BROWSERS", Printf("%d", stream.browsers));
    Field(row, 60, "PICTURES/S", Printf("%d", stream.pictures));
  }
  row += 2;
  row = DrawHealth(row, health);

  Field(row, 0, "ATTITUDE", Printf("pan %7.2f  tilt %7.2f  dutch %7.2f deg", DegreesOfHudRadians(s.pan_rad),
                                   DegreesOfHudRadians(s.tilt_rad), DegreesOfHudRadians(s.dutch_rad)));
  Field(row, 60, "ORIENTATION", s.orientation_locked ? "locked" : "free");
  ++row;
  Field(row, 0, "CAMERA", s.camera_status_valid ? "status ok" : "no status", s.camera_status_valid ? kGood : kBad);
  Field(row, 22, "MODE", WorkModeName(s.work_mode));
  if (IsRecording(s)) {
    attron(COLOR_PAIR(kBad) | A_BOLD | A_REVERSE);
    mvaddstr(row, 36, " REC ");
    attroff(COLOR_PAIR(kBad) | A_BOLD | A_REVERSE);
  }
  Field(row, 44, "STATE", Printf("%u  shot %u/%u  playback %u", s.camera_state, s.shot_mode, s.shot_submode,
                                 s.playback_state));
  ++row;
  Field(row, 0, "SETTINGS", Printf("shutter %s  aperture f/%.2f  ev %+.1f  format %u,%u  timelapse %u/%u",
                                   ShutterText(s.shutter_code).c_str(), s.aperture, s.exposure_compensation / 10.0,
                                   s.video_format_a, s.video_format_b, s.timelapse_interval, s.timelapse_duration));
  ++row;
  Field(row, 0, "FOCUS", Printf("%s mode %u  %d%%  value %.2f  point %.2f,%.2f", s.focus_valid ? "ok" : "none",
                                s.focus_mode, s.focus_percent, s.focus_value, s.focus_point_x, s.focus_point_y));
  ++row;
  Field(row, 0, "DISPLAY", Printf("osd %s  hud %s  internal camera %s%s  focus assistant %s",
                                  OnOff(s.osd_enabled).c_str(), OnOff(s.hud_visible).c_str(),
                                  OnOff(s.internal_camera_enabled).c_str(),
                                  s.internal_camera_fullscreen ? " (fullscreen)" : "",
                                  OnOff(s.focus_assistant_enabled).c_str()));
  row += 2;

  Field(row, 0, "RC", Printf("status %u  %s%s", s.rc_input_status, s.rc_suspended ? "suspended" : "active",
                             s.show_rc_channels ? "  channels shown" : ""));
  ++row;
  // The first 16 channels, four to a line: number, mapped function, value.
  for (int k = 0; k < 16; ++k) {
    int r = row + k / 4, c = (k % 4) * 20;
    const char* word = RcMapWord(s.rc_channel_map[k]);
    mvaddstr(r, c + 2, Printf("%2d %-9.9s %5u", k, word, s.rc_channel_values[k]).c_str());
  }
  row += 4;
  std::string active;
  for (int f = 0; f < kRcFunctionCount; ++f) {
    if (!s.rc_function_active[f]) continue;
    active += Printf("%s%s=%.2f", active.empty() ? "" : "  ", RcMapWord(static_cast<uint8_t>(f)),
                     s.rc_function_value[f]);
  }
  mvaddnstr(row, 2, ("functions: " + (active.empty() ? std::string("none active") : active)).c_str(),
            std::max(0, COLS - 2));
  row += 2;

  Field(row, 0, "SHIELD", s.shield_closed ? "closed" : "open");
  std::string media = RecordText(s.last_media_file, sizeof s.last_media_file);
  Field(row, 20, "NEWEST MEDIA", media.empty() ? "-" : media);
  ++row;
  std::string mailbox = RecordText(s.command_mailbox, sizeof s.command_mailbox);
  Field(row, 0, "MAILBOX", mailbox.empty() ? "empty" : "pending: " + mailbox);
  row += 2;
  attron(A_DIM);
  mvaddstr(row, 0, "q quits; vb-hud --json prints one snapshot");
  attroff(A_DIM);
  refresh();
}

bool HudScreenQuitKey(int timeout_ms) {
  timeout(timeout_ms);
  int key = getch();
  return key == 'q' || key == 'Q' || key == 27;
}
