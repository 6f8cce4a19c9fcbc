// vb-web: the box's own web page. Serves the page's files, the live state from
// "/hud_mem", the box's health from "/vb_health", the journal's record of who
// did what and the daemon's configuration report, passes the page's commands
// to the daemon through the command mailbox, one at a time, behind an optional
// control PIN, and carries the live video's WebRTC signalling to the box's
// Janus.
#include <arpa/inet.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../common/janus_client.h"
#include "../common/tool_support.h"
#include "box_viewer.h"
#include "host_names.h"
#include "control_pin.h"
#include "crew_routes.h"
#include "hud_mapping.h"
#include "mailbox_queue.h"
#include "records/health_record.h"
#include "records/viewer_protocol.h"
#include "records/stream_status.h"
#include "settings_backup.h"
#include "static_files.h"
#include "stream_signalling.h"
#include "web_server.h"

namespace {

// Both set by the build from its install folders.
#ifndef VB_WEB_WWW_FROM_BINDIR
#define VB_WEB_WWW_FROM_BINDIR "../share/vantagebridge/www"
#endif
#ifndef VB_WEB_INSTALLED_WWW
#define VB_WEB_INSTALLED_WWW "/usr/share/vantagebridge/www"
#endif
constexpr const char* kBuildTreeLink = "vb-web-www";
constexpr size_t kQueueCapacity = 8;

struct Options {
  char address[64] = "0.0.0.0";
  uint16_t port = 8080;
  std::string root;
  char box_host[128] = "127.0.0.1";
  uint16_t box_port = kDiscoveryPort;
  std::string hud_name = "/hud_mem";
  std::vector<std::string> host_names;
  std::string health_name = kHealthRecordName;
  std::string pin_file = kDefaultPinFile;
  enum class PinAction { kNone, kSet, kClear } pin_action = PinAction::kNone;
  std::string janus_url = kJanusUrl;
  std::string stream_status = kStreamStatusPath;
  std::string box_dir = "/run/vantagebridge";
};

// The page's files when no --root is given, found from where this binary
// lies, so no path of the build machine is compiled in: the build tree puts
// a link to the source tree's www folder beside its binary, and an installed
// binary finds the installed copy by the relative path from its folder to
// the data folder (../share/vantagebridge/www), wherever the prefix is.
std::string DefaultRoot() {
  char self[PATH_MAX] = {};
  if (!realpath("/proc/self/exe", self)) return VB_WEB_INSTALLED_WWW;
  std::string folder(self);
  folder.erase(folder.rfind('/') + 1);
  char resolved[PATH_MAX] = {};
  if (realpath((folder + kBuildTreeLink).c_str(), resolved)) return resolved;
  const std::string installed = folder + VB_WEB_WWW_FROM_BINDIR;
  return realpath(installed.c_str(), resolved) ? resolved : installed;
}

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: vb-web [options]\n"
               "  --address ADDR     listen on this IPv4 address (default 0.0.0.0, all interfaces)\n"
               "  --port PORT        listen on this port (default 8080)\n"
               "  --root DIR         the page's files (default %s)\n"
               "  --box HOST[:PORT]  the daemon's viewer port (default 127.0.0.1:4242)\n"
               "  --hud NAME         the shared record (default /hud_mem)\n"
               "  --host-name NAME   serve under this name too (repeatable); always served: the box's\n"
               "                     addresses, localhost, its host name and that name under .local\n"
               "  --health NAME      the health record (default /vb_health)\n"
               "  --pin-file FILE    where the control PIN's hash is kept (default %s)\n"
               "  --set-pin          read a new control PIN from standard input, store it and exit\n"
               "  --clear-pin        remove the control PIN (the page's controls open to all) and exit\n"
               "  --janus URL        Janus's HTTP API for the live video (default %s); off: no video\n"
               "  --stream-status F  vb-stream's status file (default %s)\n"
               "  --box-dir DIR      the daemon's working directory, whose vantagebridge.conf holds the\n"
               "                     settings it started with (default /run/vantagebridge)\n",
               DefaultRoot().c_str(), kDefaultPinFile, kJanusUrl, kStreamStatusPath);
}

// Returns 0 to go on, 1 to exit successfully, 2 on a bad option.
int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      Usage(stdout);
      return 1;
    }
    if (!std::strcmp(a, "--set-pin") || !std::strcmp(a, "--clear-pin")) {
      o->pin_action = a[2] == 's' ? Options::PinAction::kSet : Options::PinAction::kClear;
      continue;
    }
    const char* v = i + 1 < argc ? argv[++i] : nullptr;
    double number = 0;
    bool ok = v != nullptr;
    if (!ok) {
    } else if (!std::strcmp(a, "--address")) {
      in_addr parsed{};
      ok = std::strlen(v) < sizeof o->address && inet_pton(AF_INET, v, &parsed) == 1;
      if (ok) std::strcpy(o->address, v);
    } else if (!std::strcmp(a, "--port")) {
      ok = ParseNumber(v, 0, 65535, &number);
      o->port = static_cast<uint16_t>(number);
    } else if (!std::strcmp(a, "--root")) {
      o->root = v;
    } else if (!std::strcmp(a, "--box")) {
      ok = ParseHostPort(v, o->box_host, sizeof o->box_host, &o->box_port);
    } else if (!std::strcmp(a, "--host-name")) {
      ok = IsValidHostName(v);
      o->host_names.emplace_back(v);
    } else if (!std::strcmp(a, "--health")) {
      ok = v[0] == '/' && std::strchr(v + 1, '/') == nullptr;
      o->health_name = v;
    } else if (!std::strcmp(a, "--pin-file")) {
      ok = v[0] != '\0';
      o->pin_file = v;
    } else if (!std::strcmp(a, "--box-dir")) {
      ok = v[0] == '/';
      o->box_dir = v;
    } else if (!std::strcmp(a, "--hud")) {
      ok = v[0] == '/' && std::strchr(v + 1, '/') == nullptr;
      o->hud_name = v;
    } else if (!std::strcmp(a, "--janus")) {
      o->janus_url = v;
      ok = o->janus_url == "off" || o->janus_url.rfind("http://", 0) == 0;
    } else if (!std::strcmp(a, "--stream-status")) {
      o->stream_status = v;
    } else {
      ok = false;
    }
    if (!ok) {
      ReportBadOption("vb-web", a, v);
      Usage(stderr);
      return 2;
    }
  }
  if (o->root.empty()) o->root = DefaultRoot();
  return 0;
}

// One line of standard input, without echo on a terminal.
bool ReadPinLine(const char* prompt, std::string* pin) {
  const bool terminal = isatty(STDIN_FILENO);
  termios saved{};
  if (terminal) {
    std::fprintf(stderr, "%s", prompt);
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, stdin) != nullptr;
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  *pin = line;
  while (!pin->empty() && (pin->back() == '\n' || pin->back() == '\r')) pin->pop_back();
  return read;
}

// --set-pin and --clear-pin: 0 when done, 1 when not.
int ChangePin(const Options& options) {
  const ControlPin pin(options.pin_file);
  std::string text, again, error;
  if (options.pin_action == Options::PinAction::kSet) {
    if (!ReadPinLine("new control PIN: ", &text) || !PinTextUsable(text, &error)) {
      std::fprintf(stderr, "vb-web: %s\n", error.empty() ? "no PIN given" : error.c_str());
      return 1;
    }
    if (isatty(STDIN_FILENO) && (!ReadPinLine("the same again: ", &again) || again != text)) {
      std::fprintf(stderr, "vb-web: the two PINs differ; nothing changed\n");
      return 1;
    }
  }
  if (!pin.Store(text, &error)) {
    std::fprintf(stderr, "vb-web: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "vb-web: %s (%s); a running vb-web uses it from its next request\n",
               text.empty() ? "control PIN removed, the page's controls are open to all" : "control PIN stored",
               options.pin_file.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (int parsed = ParseOptions(argc, argv, &options)) return parsed == 1 ? 0 : 2;
  if (options.pin_action != Options::PinAction::kNone) return ChangePin(options);

  StaticFiles files;
  std::string error;
  if (!files.Load(options.root, &error)) {
    std::fprintf(stderr, "vb-web: %s\n", error.c_str());
    return 1;
  }
  sockaddr_in box{};
  if (!ResolveHost(options.box_host, options.box_port, &box)) {
    std::fprintf(stderr, "vb-web: cannot resolve %s\n", options.box_host);
    return 2;
  }
  sockaddr_in listen_address{};
  listen_address.sin_family = AF_INET;
  listen_address.sin_port = htons(options.port);
  inet_pton(AF_INET, options.address, &listen_address.sin_addr);

  // Signals are taken by sigtimedwait below, on this thread only.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  HudMapping hud(options.hud_name);
  hud.Refresh();
  MailboxQueue queue([&hud](const std::function<void(char*)>& f) { return hud.WithMailbox(f); }, kQueueCapacity);
  BoxViewer viewer(box);
  CrewRoutes crew(options.pin_file, options.health_name);
  StreamSignalling stream(options.janus_url, options.stream_status);
  SettingsFilePaths settings_files;
  settings_files.working_copy = options.box_dir + "/vantagebridge.conf";
  SettingsBackup backup(settings_files, &queue);
  if (!backup.Prepare(&error)) std::fprintf(stderr, "vb-web: settings files cannot be restored: %s\n", error.c_str());
  WebServer server(WebParts{&files, &hud, &viewer, &queue, options.host_names, &crew,
                            options.janus_url == "off" ? nullptr : &stream, &backup});
  if (!viewer.Start(&error) || !server.Start(listen_address, &error)) {
    std::fprintf(stderr, "vb-web: %s\n", error.c_str());
    return 1;
  }
  queue.Start();
  std::fprintf(stderr, "vb-web: serving http://%s:%u/ from %s\n", options.address, server.Port(),
               options.root.c_str());

  bool warned_missing = false;
  for (;;) {
    timespec second{1, 0};
    const int sig = sigtimedwait(&signals, nullptr, &second);
    if (sig == SIGINT || sig == SIGTERM) break;
    // Follows the daemon: its record appears at its start and is replaced
    // when /dev/shm was cleaned in between.
    const bool mapped = hud.Refresh();
    if (!mapped && !warned_missing) {
      // The daemon makes the record readable and writable by its own user only.
      if (hud.OpenError() == EACCES) {
        std::fprintf(stderr, "vb-web: %s is not open to this user: run vb-web as the daemon's user\n",
                     options.hud_name.c_str());
      } else {
        std::fprintf(stderr, "vb-web: %s is not there yet\n", options.hud_name.c_str());
      }
    }
    warned_missing = !mapped;
  }
  server.BeginStop();
  queue.Stop();
  server.Stop();
  viewer.Stop();
  std::fprintf(stderr, "vb-web: stopped\n");
  return 0;
}
