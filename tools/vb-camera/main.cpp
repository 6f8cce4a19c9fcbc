// vb-camera: stands in for the camera at the far end of the USB link. It sends
// the camera's queries and telemetry to the box's port 5001, checks the box's
// answers, reacts to the box's commands, optionally streams video to port
// 5000 (H.264 pictures that show their own number, or filler datagrams at a
// set rate for load), and prints every frame it receives, one line each.
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
#include <vector>

#include "../common/tool_support.h"
#include "answers.h"
#include "printer.h"
#include "sim_camera.h"
#include "telemetry.h"
#include "video_encoder.h"

namespace {

struct Options {
  char host[128] = "127.0.0.1";
  uint16_t port = 5001;
  uint16_t video_port = 5000;
  uint16_t local_port = 0;
  int mode = kModeOsmo;
  double seconds = 0;
  bool quiet = false;
  bool queries = true;
  double query_every = 5;
  bool demo = true;
  double rates[kTelemetryKindCount];
  double video_kbps = 0;
  bool video = false;  // H.264 pictures rather than filler
  VideoFormat format;
  bool video_stamps = false;
};

// The camera's datagrams on the video port: up to this much of the stream each.
constexpr size_t kVideoDatagramSize = 1400;

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: vb-camera [options]\n"
               "  --box HOST:PORT      the box's camera data port (default 127.0.0.1:5001)\n"
               "  --mode osmo|inspire  which work mode's queries to send and check (default osmo)\n"
               "  --seconds N          stop after N seconds (default: run until interrupted)\n"
               "  --quiet              do not print the telemetry frames sent (nor the video count)\n"
               "  --rate NAME=HZ       telemetry rate; NAME one of");
  for (int k = 0; k < kTelemetryKindCount; ++k) std::fprintf(out, " %s", kTelemetryInfo[k].name);
  std::fprintf(out,
               "; 0 turns it off\n"
               "  --no-telemetry       send no telemetry (queries only)\n"
               "  --no-queries         send no identity, probe or keep-alive queries\n"
               "  --query-every S      repeat the identity and probe queries every S seconds (default 5; 0 once)\n"
               "  --still              no scripted motion: values change only on the box's commands\n"
               "  --video WxH@FPS      stream H.264 pictures showing their number, in datagrams of up to\n"
               "                       1400 bytes (e.g. 640x360@30; bit rate from --video-kbps, default 1000)\n"
               "  --video-stamps       print \"video picture N sent T\" (T: wall clock, seconds) per picture\n"
               "  --video-kbps N       without --video: filler datagrams of 1400 bytes at N kbit/s (for load)\n"
               "  --video-port P       the box's video port (default 5000)\n"
               "  --local-port P       the camera's own UDP port (default: any free one)\n"
               "Output: rx/tx frame lines, \"query\", \"answer ok|mismatch|missing\", \"camera\" lines.\n");
}

bool ParseRate(const char* text, Options* o) {
  char name[32];
  const char* eq = std::strchr(text, '=');
  if (!eq || eq - text >= static_cast<long>(sizeof name)) return false;
  std::memcpy(name, text, static_cast<size_t>(eq - text));
  name[eq - text] = '\0';
  int kind = TelemetryKindByName(name);
  double hz;
  if (kind < 0 || !ParseNumber(eq + 1, 0, 1000, &hz)) return false;
  o->rates[kind] = hz;
  return true;
}

// Returns 0 to go on, 1 to exit successfully (help), 2 on a bad option.
int ParseOptions(int argc, char** argv, Options* o) {
  for (int k = 0; k < kTelemetryKindCount; ++k) o->rates[k] = kTelemetryInfo[k].default_hz;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    double num;
    bool ok = true;
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      Usage(stdout);
      return 1;
    } else if (!std::strcmp(a, "--quiet")) {
      o->quiet = true;
    } else if (!std::strcmp(a, "--no-telemetry")) {
      for (double& r : o->rates) r = 0;
    } else if (!std::strcmp(a, "--no-queries")) {
      o->queries = false;
    } else if (!std::strcmp(a, "--still")) {
      o->demo = false;
    } else if (!std::strcmp(a, "--video-stamps")) {
      o->video_stamps = true;
    } else if (!v) {
      ok = false;
    } else {
      ++i;
      if (!std::strcmp(a, "--box")) ok = ParseHostPort(v, o->host, sizeof o->host, &o->port);
      else if (!std::strcmp(a, "--mode")) {
        ok = !std::strcmp(v, "osmo") || !std::strcmp(v, "inspire");
        o->mode = !std::strcmp(v, "inspire") ? kModeInspire : kModeOsmo;
      } else if (!std::strcmp(a, "--seconds")) ok = ParseNumber(v, 0, 1e7, &o->seconds);
      else if (!std::strcmp(a, "--rate")) ok = ParseRate(v, o);
      else if (!std::strcmp(a, "--query-every")) ok = ParseNumber(v, 0, 1e6, &o->query_every);
      else if (!std::strcmp(a, "--video-kbps")) ok = ParseNumber(v, 0, 1e6, &o->video_kbps);
      else if (!std::strcmp(a, "--video")) ok = o->video = ParseVideoFormat(v, &o->format);
      else if (!std::strcmp(a, "--video-port") && (ok = ParseNumber(v, 1, 65535, &num))) o->video_port = static_cast<uint16_t>(num);
      else if (!std::strcmp(a, "--local-port") && (ok = ParseNumber(v, 0, 65535, &num))) o->local_port = static_cast<uint16_t>(num);
      else if (ok) ok = false;
    }
    if (!ok) {
      ReportBadOption("vb-camera", a, v);
      Usage(stderr);
      return 2;
    }
  }
  if (o->video && o->video_kbps > 0) {
    if (o->video_kbps < 50 || o->video_kbps > 100000) {
      std::fprintf(stderr, "vb-camera: --video-kbps with --video: 50 ... 100000\n");
      return 2;
    }
    o->format.kbps = static_cast<int>(o->video_kbps);
  }
  return 0;
}

int OpenUdp(uint16_t local_port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(local_port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

struct Camera {
  Options opt;
  int fd = -1;
  int video_fd = -1;
  sockaddr_in box{};
  sockaddr_in video_to{};
  uint16_t sequence = 0;
  SimCamera cam;
  AnswerChecker checker;
  uint64_t rx = 0, tx = 0, video_dgrams = 0, video_bytes = 0;
  VideoEncoder encoder;
  uint32_t pictures = 0;
  std::vector<uint8_t> picture;
};

void SendFrame(Camera* c, const uint8_t* frame, size_t length) {
  sendto(c->fd, frame, length, 0, reinterpret_cast<const sockaddr*>(&c->box), sizeof c->box);
  ++c->tx;
}

void SendQueries(Camera* c, bool keepalive_only, double now) {
  int count = 0;
  const CameraQuery* queries = QueriesForMode(c->opt.mode, &count);
  for (int i = 0; i < count; ++i) {
    if (queries[i].keepalive != keepalive_only) continue;
    uint16_t seq = c->sequence++;
    // Varies where the box does not test it, so an echo is visible.
    uint8_t byte11 = queries[i].byte11 >= 0 ? static_cast<uint8_t>(queries[i].byte11) : static_cast<uint8_t>(seq * 7 + 1);
    uint8_t frame[32];
    size_t n = BuildQuery(queries[i], seq, byte11, frame);
    SendFrame(c, frame, n);
    ExpectAnswer(&c->checker, &queries[i], seq, byte11, now + 2.0);
    char text[200];
    FormatFrame(frame, n, text, sizeof text);
    std::printf("query %s tx %s\n", queries[i].name, text);
  }
}

void SendTelemetry(Camera* c, int kind, int variant) {
  uint8_t frame[256];
  size_t n = BuildTelemetry(kind, variant, c->cam, c->sequence++, frame);
  if (n == 0) return;
  SendFrame(c, frame, n);
  if (!c->opt.quiet) {
    char text[800];
    FormatFrame(frame, n, text, sizeof text);
    std::printf("tx %s %s\n", kTelemetryInfo[kind].name, text);
  }
}

void SendVideoDatagram(Camera* c) {
  static uint64_t counter = 0;
  uint8_t d[kVideoDatagramSize];
  for (size_t i = 0; i < sizeof d; ++i) d[i] = static_cast<uint8_t>(i * 31 + counter);
  d[0] = d[1] = d[2] = 0;
  d[3] = 1;  // a start code, as an elementary video stream has
  for (int b = 0; b < 4; ++b) d[4 + b] = static_cast<uint8_t>(counter >> (8 * b));
  ++counter;
  sendto(c->video_fd, d, sizeof d, 0, reinterpret_cast<const sockaddr*>(&c->video_to), sizeof c->video_to);
  ++c->video_dgrams;
  c->video_bytes += sizeof d;
}

void SendVideoPicture(Camera* c) {
  c->picture.clear();
  const uint32_t n = c->pictures++;
  if (!c->encoder.Encode(n, &c->picture)) return;
  if (c->opt.video_stamps) {
    timespec wall;
    clock_gettime(CLOCK_REALTIME, &wall);
    std::printf("video picture %u sent %lld.%06ld\n", n, static_cast<long long>(wall.tv_sec), wall.tv_nsec / 1000);
  }
  for (size_t offset = 0; offset < c->picture.size(); offset += kVideoDatagramSize) {
    const size_t n_bytes = std::min(kVideoDatagramSize, c->picture.size() - offset);
    sendto(c->video_fd, c->picture.data() + offset, n_bytes, 0, reinterpret_cast<const sockaddr*>(&c->video_to),
           sizeof c->video_to);
    ++c->video_dgrams;
    c->video_bytes += n_bytes;
  }
}

void ReceiveFrames(Camera* c) {
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = recv(c->fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0) return;
    ++c->rx;
    char text[800];
    FormatFrame(buf, static_cast<size_t>(n), text, sizeof text);
    std::printf("rx %s\n", text);
    char line[1000];
    if (CheckAnswer(&c->checker, buf, static_cast<size_t>(n), line, sizeof line) != kNotAnAnswer)
      std::printf("%s\n", line);
    if (const char* note = ApplyBoxFrame(&c->cam, buf, static_cast<size_t>(n))) std::printf("camera %s\n", note);
  }
}

int Run(Camera* c) {
  const Options& o = c->opt;
  double start = Now(), last_step = start;
  double next_query = start, next_keepalive = start + 0.2, next_video = start, next_second = start + 1;
  double next_tel[kTelemetryKindCount];
  int variant[kTelemetryKindCount] = {};
  for (int k = 0; k < kTelemetryKindCount; ++k) next_tel[k] = start + 0.05 * k;
  double video_interval = o.video ? 1.0 / o.format.fps
                          : o.video_kbps > 0 ? kVideoDatagramSize * 8 / (o.video_kbps * 1000) : 0;
  uint64_t video_last_dgrams = 0, video_last_bytes = 0;
  const double kNever = 1e300;

  while (!g_stop) {
    double now = Now();
    if (o.seconds > 0 && now - start >= o.seconds) break;
    StepCamera(&c->cam, now - last_step);
    last_step = now;

    if (o.queries && now >= next_query) {
      SendQueries(c, false, now);
      next_query = o.query_every > 0 ? next_query + o.query_every : kNever;
    }
    if (o.queries && now >= next_keepalive) {
      SendQueries(c, true, now);
      next_keepalive += 1.0;
    }
    for (int k = 0; k < kTelemetryKindCount; ++k) {
      if (o.rates[k] <= 0 || now < next_tel[k]) continue;
      SendTelemetry(c, k, variant[k]++);
      next_tel[k] += 1.0 / o.rates[k];
      if (next_tel[k] < now) next_tel[k] = now;  // fell behind: do not burst
    }
    if (video_interval > 0) {
      // Pictures keep their pace after a stall, as a camera's would; filler catches up.
      for (int burst = 0; now >= next_video && burst < (o.video ? 1 : 64); ++burst) {
        if (o.video) SendVideoPicture(c);
        else SendVideoDatagram(c);
        next_video += video_interval;
      }
      if (next_video < now - (o.video ? video_interval : 0.5)) next_video = now;
    }
    char lines[16][160];
    int missing = ExpireAnswers(&c->checker, now, lines, 16);
    for (int i = 0; i < missing; ++i) std::printf("%s\n", lines[i]);
    if (now >= next_second) {
      if (video_interval > 0 && !o.quiet)
        std::printf("video sent %" PRIu64 " dgrams/s %" PRIu64 " B/s\n", c->video_dgrams - video_last_dgrams,
                    c->video_bytes - video_last_bytes);
      video_last_dgrams = c->video_dgrams;
      video_last_bytes = c->video_bytes;
      next_second += 1;
    }

    double next = next_second;
    if (o.queries) next = std::min(next, std::min(next_query, next_keepalive));
    for (int k = 0; k < kTelemetryKindCount; ++k)
      if (o.rates[k] > 0) next = std::min(next, next_tel[k]);
    if (video_interval > 0) next = std::min(next, next_video);
    if (o.seconds > 0) next = std::min(next, start + o.seconds);
    double wait_ms = (next - Now()) * 1000;
    if (wait_ms > 100) wait_ms = 100;  // keep the answer deadlines and motion fresh
    pollfd p{c->fd, POLLIN, 0};
    if (poll(&p, 1, wait_ms > 0 ? static_cast<int>(wait_ms) : 0) > 0) ReceiveFrames(c);
  }
  ReceiveFrames(c);
  std::printf("summary rx=%" PRIu64 " tx=%" PRIu64 " answers ok=%d mismatch=%d missing=%d video=%" PRIu64 "\n",
              c->rx, c->tx, c->checker.ok, c->checker.mismatched, c->checker.missing, c->video_dgrams);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  static Camera camera;
  int parsed = ParseOptions(argc, argv, &camera.opt);
  if (parsed) return parsed == 1 ? 0 : 2;
  const Options& o = camera.opt;
  camera.cam.demo = o.demo;
  if (!ResolveHost(o.host, o.port, &camera.box) || !ResolveHost(o.host, o.video_port, &camera.video_to)) {
    std::fprintf(stderr, "vb-camera: cannot resolve %s\n", o.host);
    return 2;
  }
  camera.fd = OpenUdp(o.local_port);
  const bool video = o.video || o.video_kbps > 0;
  camera.video_fd = video ? OpenUdp(0) : -1;
  if (camera.fd < 0 || (video && camera.video_fd < 0)) {
    std::perror("vb-camera: socket");
    return 1;
  }
  if (o.video && !camera.encoder.Open(o.format)) {
    std::fprintf(stderr, "vb-camera: the H.264 encoder does not take %dx%d@%d\n", o.format.width, o.format.height,
                 o.format.fps);
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  if (o.video) {
    std::printf("vb-camera mode %s box %s:%u video H.264 %dx%d@%d %d kbit/s\n",
                o.mode == kModeInspire ? "inspire" : "osmo", o.host, o.port, o.format.width, o.format.height,
                o.format.fps, o.format.kbps);
  } else {
    std::printf("vb-camera mode %s box %s:%u video %g kbit/s\n", o.mode == kModeInspire ? "inspire" : "osmo", o.host,
                o.port, o.video_kbps);
  }
  return Run(&camera);
}
