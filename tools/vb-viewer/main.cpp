// vb-viewer: stands in for a viewer app. It registers with the box on port
// 4242 (repeating the connect request every second), prints every message the
// box sends, one line each, counts the video once a second, and sends JSON
// commands, gimbal control and attitude messages from its arguments or from
// standard input, one per line. With --forward it passes each video payload,
// without the box's header, to a UDP port, so standard tools can show,
// record or re-serve the stream.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../common/tool_support.h"
#include "decode.h"
#include "records/viewer_protocol.h"
#include "requests.h"
#include "vocabulary_use.h"

namespace {

struct Options {
  char host[128] = "127.0.0.1";
  uint16_t port = kDiscoveryPort;
  uint16_t local_port = 0;
  char forward_host[128] = "";
  uint16_t forward_port = 0;
  bool data_only = false;
  bool register_viewer = true;
  bool show_seq = false;
  bool stamp = false;
  bool per_second = false;
  bool quiet_video = false;
  double seconds = 0;
  double send_gap = 0.3;
  std::vector<std::string> queued;  // input lines to send once registered
};

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: vb-viewer [options]\n"
               "  --box HOST[:PORT]        the box (default 127.0.0.1:4242)\n"
               "  --data-only              register for data messages only (no video)\n"
               "  --no-register            send no connect requests (commands still go out)\n"
               "  --seconds N              stop after N seconds (default: until interrupted or \"quit\")\n"
               "  --send JSON              send a JSON command (repeatable)\n"
               "  --command NAME [VALUES]  send a command by name (see --commands)\n"
               "  --commands               print the command vocabulary (camera and box) and exit\n"
               "  --gimbal SEL,A,B         send a gimbal control message\n"
               "  --attitude Q1,Q2,Q3,Q4   send an attitude message (components -1 ... 1)\n"
               "  --send-gap MS            pause between queued sends (default 300)\n"
               "  --show-seq               end each message line with the box's datagram number\n"
               "  --stamp                  end each message line with t=SECONDS since the viewer started\n"
               "  --quiet-video            no per-second video line\n"
               "  --per-second             count the periodic messages and print them once a second\n"
               "                           (with the latest attitude, camera status and link states)\n"
               "  --local-port P           the viewer's own UDP port (default: any free one)\n"
               "  --forward HOST:PORT      send each video payload, without the box's header, to HOST:PORT\n"
               "Standard input, one per line: a JSON text, \"gimbal SEL,A,B\", \"attitude Q1,Q2,Q3,Q4\",\n"
               "\"command NAME [VALUES]\", \"connect\", \"connect data\", \"disconnect\", \"commands\", \"quit\".\n");
}

// Returns 0 to go on, 1 to exit successfully, 2 on a bad option.
int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    double num = 0;
    bool ok = true;
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      Usage(stdout);
      return 1;
    } else if (!std::strcmp(a, "--commands")) {
      PrintVocabulary(stdout);
      return 1;
    } else if (!std::strcmp(a, "--command") && v) {
      // The name and the values up to the next option; a value with blanks is quoted.
      std::string line = "command";
      while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
        std::string word = argv[++i];
        line += word.find(' ') == std::string::npos ? " " + word : " \"" + word + "\"";
      }
      o->queued.push_back(line);
    } else if (!std::strcmp(a, "--data-only")) {
      o->data_only = true;
    } else if (!std::strcmp(a, "--no-register")) {
      o->register_viewer = false;
    } else if (!std::strcmp(a, "--show-seq")) {
      o->show_seq = true;
    } else if (!std::strcmp(a, "--per-second")) {
      o->per_second = true;
    } else if (!std::strcmp(a, "--stamp")) {
      o->stamp = true;
    } else if (!std::strcmp(a, "--quiet-video")) {
      o->quiet_video = true;
    } else if (!v) {
      ok = false;
    } else {
      ++i;
      if (!std::strcmp(a, "--box")) ok = ParseHostPort(v, o->host, sizeof o->host, &o->port);
      else if (!std::strcmp(a, "--seconds")) ok = ParseNumber(v, 0, 1e7, &o->seconds);
      else if (!std::strcmp(a, "--send")) o->queued.push_back(v);
      else if (!std::strcmp(a, "--gimbal")) o->queued.push_back(std::string("gimbal ") + v);
      else if (!std::strcmp(a, "--attitude")) o->queued.push_back(std::string("attitude ") + v);
      else if (!std::strcmp(a, "--send-gap") && (ok = ParseNumber(v, 0, 60000, &num))) o->send_gap = num / 1000;
      else if (!std::strcmp(a, "--local-port") && (ok = ParseNumber(v, 0, 65535, &num))) o->local_port = static_cast<uint16_t>(num);
      else if (!std::strcmp(a, "--forward")) ok = ParseHostPort(v, o->forward_host, sizeof o->forward_host, &o->forward_port) && o->forward_port != 0;
      else if (ok) ok = false;
    }
    if (!ok) {
      ReportBadOption("vb-viewer", a, v);
      Usage(stderr);
      return 2;
    }
  }
  return 0;
}

struct Viewer {
  Options opt;
  double start = 0;
  int fd = -1;
  sockaddr_in box{};
  int forward_fd = -1;
  sockaddr_in forward{};
  uint64_t forwarded = 0;
  uint32_t sequence = 0;
  bool acked = false;
  bool stdin_open = true;
  bool quit = false;
  std::string stdin_partial;
  std::vector<std::string> outgoing;  // lines waiting for their turn
  uint64_t messages = 0, acks = 0, video_dgrams = 0, video_bytes = 0;
  uint64_t second_dgrams = 0, second_bytes = 0;
  uint64_t second_counts[256] = {};
  std::string last_attitude, last_status, last_data_link, last_video_link;
};

// The messages the box repeats on its own; --per-second counts them instead
// of printing each one.
bool IsPeriodic(uint8_t type) {
  switch (type) {
    case kMsgGimbalAttitude: case kMsgSettingsRecord: case kMsgDigitalZoom: case kMsgLinkState: case kMsgStatus:
    case kMsgStatusRecord: case kMsgOrientationLock: case kMsgRawAttitude: case kMsgFocusState:
    case kMsgFocusPoint: case kMsgDataBlock: case kMsgRcChannels: case kMsgFocusBytes:
      return true;
    default:
      return false;
  }
}

const char* TypeName(uint8_t type) {
  switch (type) {
    case kMsgGimbalAttitude: return "attitude";
    case kMsgSettingsRecord: return "settings";
    case kMsgDigitalZoom: return "zoom";
    case kMsgLinkState: return "link";
    case kMsgStatus: return "status";
    case kMsgStatusRecord: return "camera-status";
    case kMsgOrientationLock: return "orientation";
    case kMsgRawAttitude: return "attitude-raw";
    case kMsgFocusState: return "focus";
    case kMsgFocusPoint: return "focus-point";
    case kMsgDataBlock: return "datablock";
    case kMsgRcChannels: return "rc";
    case kMsgFocusBytes: return "focus-bytes";
    default: return "other";
  }
}

void PrintSecond(Viewer* v) {
  std::string line = "per-second";
  for (int t = 0; t < 256; ++t) {
    if (!v->second_counts[t]) continue;
    line += std::string(" ") + TypeName(static_cast<uint8_t>(t)) + "=" + std::to_string(v->second_counts[t]);
    v->second_counts[t] = 0;
  }
  if (line == "per-second") line += " nothing";
  std::printf("%s\n", line.c_str());
  for (const std::string* last : {&v->last_data_link, &v->last_video_link, &v->last_attitude, &v->last_status})
    if (!last->empty()) std::printf("  %s\n", last->c_str());
}

bool SendPayload(Viewer* v, const uint8_t* payload, size_t length) {
  static uint8_t datagram[70000];
  size_t n = BuildViewerDatagram(v->sequence++, payload, length, datagram, sizeof datagram);
  if (n == 0) {
    std::printf("error message of %zu bytes does not fit in one datagram\n", length);
    return false;
  }
  sendto(v->fd, datagram, n, 0, reinterpret_cast<const sockaddr*>(&v->box), sizeof v->box);
  return true;
}

void SendConnect(Viewer* v, bool data_only) {
  uint8_t p[2];
  SendPayload(v, p, BuildConnectPayload(data_only, p));
}

void SendDisconnect(Viewer* v) {
  uint8_t p = kMsgDisconnect;
  SendPayload(v, &p, 1);
}

void SendJson(Viewer* v, const std::string& text) {
  if (SendPayload(v, reinterpret_cast<const uint8_t*>(text.data()), text.size()))
    std::printf("sent json %s\n", text.c_str());
}

// Acts on one input line (from the arguments or standard input).
void HandleLine(Viewer* v, std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  size_t start = line.find_first_not_of(' ');
  if (start == std::string::npos) return;
  line.erase(0, start);
  auto starts = [&](const char* word) {
    size_t n = std::strlen(word);
    return line.compare(0, n, word) == 0 && (line.size() == n || line[n] == ' ');
  };
  auto rest = [&](const char* word) {
    size_t p = line.find_first_not_of(' ', std::strlen(word));
    return p == std::string::npos ? std::string() : line.substr(p);
  };
  if (line[0] == '{') {
    SendJson(v, line);
  } else if (starts("gimbal")) {
    uint8_t p[8];
    if (!BuildGimbalPayload(rest("gimbal").c_str(), p)) {
      std::printf("error gimbal needs SEL,A,B (selector 0-255, values -32768 ... 32767)\n");
      return;
    }
    SendPayload(v, p, sizeof p);
    std::printf("sent gimbal %s\n", rest("gimbal").c_str());
  } else if (starts("attitude")) {
    uint8_t p[11];
    if (!BuildAttitudePayload(rest("attitude").c_str(), p)) {
      std::printf("error attitude needs Q1,Q2,Q3,Q4\n");
      return;
    }
    SendPayload(v, p, sizeof p);
    std::printf("sent attitude %s\n", rest("attitude").c_str());
  } else if (starts("command")) {
    std::string json, error;
    if (!BuildCommandLine(rest("command"), &json, &error)) {
      std::printf("error %s\n", error.c_str());
      return;
    }
    SendJson(v, json);
  } else if (starts("commands")) {
    PrintVocabulary(stdout);
  } else if (line == "connect" || line == "connect data") {
    v->opt.data_only = line == "connect data";
    v->opt.register_viewer = true;
    SendConnect(v, v->opt.data_only);
    std::printf("sent connect%s\n", v->opt.data_only ? " data-only" : "");
  } else if (line == "disconnect") {
    v->opt.register_viewer = false;
    v->acked = false;
    SendDisconnect(v);
    std::printf("sent disconnect\n");
  } else if (line == "quit") {
    v->quit = true;
  } else {
    std::printf("error unknown input: %s\n", line.c_str());
  }
}

void HandleDatagram(Viewer* v, const uint8_t* d, size_t n) {
  if (IsViewerAck(d, n)) {
    ++v->acks;
    v->acked = true;
    std::printf("ack\n");
    return;
  }
  ViewerHeader header;
  if (!ReadViewerHeader(d, n, &header)) {
    std::printf("junk len=%zu\n", n);
    return;
  }
  const uint32_t seq = header.sequence;
  size_t length = n - kClientHeaderSize;
  if (header.kind == kKindVideo) {
    ++v->video_dgrams;
    ++v->second_dgrams;
    v->video_bytes += length;
    v->second_bytes += length;
    if (v->forward_fd >= 0 &&
        sendto(v->forward_fd, d + kClientHeaderSize, length, 0, reinterpret_cast<const sockaddr*>(&v->forward),
               sizeof v->forward) == static_cast<ssize_t>(length))
      ++v->forwarded;
    return;
  }
  ++v->messages;
  static char line[16384];
  FormatClientMessage(d + kClientHeaderSize, length, line, sizeof line);
  uint8_t type = length ? d[kClientHeaderSize] : 0xFF;
  if (v->opt.per_second && length && IsPeriodic(type)) {
    ++v->second_counts[type];
    if (type == kMsgGimbalAttitude) v->last_attitude = line;
    if (type == kMsgStatusRecord) v->last_status = line;
    if (type == kMsgLinkState && length > 1) (d[kClientHeaderSize + 1] ? v->last_video_link : v->last_data_link) = line;
    return;
  }
  std::string suffix;
  char part[48];
  if (v->opt.show_seq) {
    std::snprintf(part, sizeof part, " seq=%u", seq);
    suffix += part;
  }
  if (v->opt.stamp) {
    std::snprintf(part, sizeof part, " t=%.3f", Now() - v->start);
    suffix += part;
  }
  std::printf("%s%s\n", line, suffix.c_str());
}

void ReadStdin(Viewer* v) {
  char buf[4096];
  ssize_t n = read(0, buf, sizeof buf);
  if (n <= 0) {
    v->stdin_open = false;
    if (!v->stdin_partial.empty()) v->outgoing.push_back(v->stdin_partial);
    v->stdin_partial.clear();
    return;
  }
  v->stdin_partial.append(buf, static_cast<size_t>(n));
  size_t nl;
  while ((nl = v->stdin_partial.find('\n')) != std::string::npos) {
    v->outgoing.push_back(v->stdin_partial.substr(0, nl));
    v->stdin_partial.erase(0, nl + 1);
  }
}

int Run(Viewer* v) {
  double start = v->start = Now();
  double next_connect = start, next_second = start + 1, next_send = 0;
  v->outgoing = v->opt.queued;
  while (!g_stop && !v->quit) {
    double now = Now();
    if (v->opt.seconds > 0 && now - start >= v->opt.seconds) break;
    if (v->opt.register_viewer && now >= next_connect) {
      SendConnect(v, v->opt.data_only);
      next_connect += 1;
      if (next_connect < now) next_connect = now + 1;
    }
    // Queued input waits for the registration (or half a second) and goes out
    // one line per gap, so the box handles the commands one after another.
    bool ready = v->acked || !v->opt.register_viewer || now - start >= 0.5;
    if (ready && !v->outgoing.empty() && now >= next_send) {
      std::string line = v->outgoing.front();
      v->outgoing.erase(v->outgoing.begin());
      HandleLine(v, line);
      next_send = now + v->opt.send_gap;
    }
    if (now >= next_second) {
      if (!v->opt.quiet_video) {
        std::printf("video %" PRIu64 " dgrams/s %" PRIu64 " B/s\n", v->second_dgrams, v->second_bytes);
      }
      if (v->opt.per_second) PrintSecond(v);
      v->second_dgrams = v->second_bytes = 0;
      next_second += 1;
      if (next_second < now) next_second = now + 1;
    }
    double next = std::min(next_second, v->opt.register_viewer ? next_connect : next_second);
    if (!v->outgoing.empty()) next = std::min(next, std::max(next_send, start + 0.05));
    if (v->opt.seconds > 0) next = std::min(next, start + v->opt.seconds);
    double wait_ms = std::min(100.0, (next - Now()) * 1000);
    pollfd p[2] = {{v->fd, POLLIN, 0}, {0, POLLIN, 0}};
    int count = v->stdin_open ? 2 : 1;
    if (poll(p, static_cast<nfds_t>(count), wait_ms > 0 ? static_cast<int>(wait_ms) : 0) <= 0) continue;
    if (p[0].revents & POLLIN) {
      static uint8_t buf[70000];
      ssize_t n;
      while ((n = recv(v->fd, buf, sizeof buf, MSG_DONTWAIT)) >= 0) HandleDatagram(v, buf, static_cast<size_t>(n));
    }
    if (count == 2 && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) ReadStdin(v);
  }
  if (v->opt.register_viewer) SendDisconnect(v);
  std::printf("summary messages=%" PRIu64 " acks=%" PRIu64 " video=%" PRIu64 " dgrams %" PRIu64 " B", v->messages,
              v->acks, v->video_dgrams, v->video_bytes);
  if (v->forward_fd >= 0) std::printf(" forwarded=%" PRIu64, v->forwarded);
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  static Viewer viewer;
  int parsed = ParseOptions(argc, argv, &viewer.opt);
  if (parsed) return parsed == 1 ? 0 : 2;
  if (!ResolveHost(viewer.opt.host, viewer.opt.port, &viewer.box)) {
    std::fprintf(stderr, "vb-viewer: cannot resolve %s\n", viewer.opt.host);
    return 2;
  }
  if (viewer.opt.forward_port) {
    if (viewer.opt.data_only) {
      std::fprintf(stderr, "vb-viewer: --forward needs the video: not with --data-only\n");
      return 2;
    }
    if (!ResolveHost(viewer.opt.forward_host, viewer.opt.forward_port, &viewer.forward)) {
      std::fprintf(stderr, "vb-viewer: cannot resolve %s\n", viewer.opt.forward_host);
      return 2;
    }
    viewer.forward_fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (viewer.forward_fd < 0) {
      std::perror("vb-viewer: forward socket");
      return 1;
    }
    int size = 4 << 20;
    setsockopt(viewer.forward_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  }
  viewer.fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(viewer.opt.local_port);
  int size = 8 << 20;  // room for a burst of video between two reads
  setsockopt(viewer.fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  if (viewer.fd < 0 || bind(viewer.fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    std::perror("vb-viewer: socket");
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  socklen_t len = sizeof local;
  getsockname(viewer.fd, reinterpret_cast<sockaddr*>(&local), &len);
  std::printf("vb-viewer %s box %s:%u from port %u\n", viewer.opt.data_only ? "data-only" : "full", viewer.opt.host,
              viewer.opt.port, ntohs(local.sin_port));
  if (viewer.forward_fd >= 0)
    std::printf("forwarding video to %s:%u\n", viewer.opt.forward_host, viewer.opt.forward_port);
  return Run(&viewer);
}
