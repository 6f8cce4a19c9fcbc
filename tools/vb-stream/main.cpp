// vb-stream: the box's live video for browsers and standard players. It
// registers with the daemon as a full viewer (one of its 20 places, so the
// daemon's video path stays as it is), takes the camera's H.264 stream out of
// the video datagrams and sends it as RTP: to the box's Janus mountpoint,
// which serves it to the web page's browsers over WebRTC, and to every
// --rtp target, with an SDP file for each target that asks for one. Once a
// second it writes its status for vb-web and vb-hud.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../common/janus_client.h"
#include "../common/tool_support.h"
#include "../common/viewer_datagram.h"
#include "browser_count.h"
#include "nal_reassembly.h"
#include "records/stream_status.h"
#include "records/viewer_protocol.h"
#include "rtp_h264.h"
#include "stream_sdp.h"

namespace {

constexpr uint16_t kJanusRtpPort = 5020;  // the mountpoint's port (service/janus)
constexpr double kAnswerWindow = 3.0;     // seconds without a datagram before the box counts as gone

struct Target {
  std::string host;
  sockaddr_in address{};
  std::string sdp;  // file to write, or empty
};

struct Options {
  char box_host[128] = "127.0.0.1";
  uint16_t box_port = kDiscoveryPort;
  bool janus = true;
  char janus_host[128] = "127.0.0.1";
  uint16_t janus_port = kJanusRtpPort;
  std::string janus_url = kJanusUrl;
  std::vector<Target> targets;
  std::string status = kStreamStatusPath;
};

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: vb-stream [options]\n"
               "  --box HOST[:PORT]        the daemon's viewer port (default 127.0.0.1:4242)\n"
               "  --janus-rtp HOST:PORT    the Janus mountpoint's RTP port (default 127.0.0.1:%u); off: none\n"
               "  --janus URL              Janus's HTTP API, asked for the browsers watching (default %s)\n"
               "  --rtp HOST:PORT          also send the RTP stream here (repeatable)\n"
               "  --sdp FILE               write the SDP for the --rtp target just before, for players to open\n"
               "  --status FILE            the status file for vb-web and vb-hud (default %s)\n",
               kJanusRtpPort, kJanusUrl, kStreamStatusPath);
}

// Returns 0 to go on, 1 to exit successfully, 2 on a bad option.
int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      Usage(stdout);
      return 1;
    }
    const char* v = i + 1 < argc ? argv[++i] : nullptr;
    bool ok = v != nullptr;
    if (!ok) {
    } else if (!std::strcmp(a, "--box")) {
      ok = ParseHostPort(v, o->box_host, sizeof o->box_host, &o->box_port);
    } else if (!std::strcmp(a, "--janus-rtp")) {
      o->janus = std::strcmp(v, "off") != 0;
      ok = !o->janus || (ParseHostPort(v, o->janus_host, sizeof o->janus_host, &o->janus_port) &&
                         std::strchr(v, ':') != nullptr);
    } else if (!std::strcmp(a, "--janus")) {
      o->janus_url = v;
      ok = o->janus_url.rfind("http://", 0) == 0;
    } else if (!std::strcmp(a, "--rtp")) {
      char host[128];
      uint16_t port = 0;
      ok = ParseHostPort(v, host, sizeof host, &port) && port != 0;
      if (ok && !ResolveHost(host, port, &o->targets.emplace_back().address)) {
        std::fprintf(stderr, "vb-stream: cannot resolve %s\n", host);
        return 2;
      }
      if (ok) o->targets.back().host = host;
    } else if (!std::strcmp(a, "--sdp")) {
      ok = !o->targets.empty() && o->targets.back().sdp.empty();
      if (ok) o->targets.back().sdp = v;
    } else if (!std::strcmp(a, "--status")) {
      o->status = v;
    } else {
      ok = false;
    }
    if (!ok) {
      ReportBadOption("vb-stream", a, v);
      Usage(stderr);
      return 2;
    }
  }
  return 0;
}

uint32_t Clock90k() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * kRtpClockRate +
                               static_cast<uint64_t>(ts.tv_nsec) * 9 / 100000);
}

struct Streamer {
  Options opt;
  int viewer_fd = -1;
  int rtp_fd = -1;
  sockaddr_in box{};
  std::vector<sockaddr_in> destinations;  // Janus first, then the --rtp targets
  uint32_t sequence = 0;
  NalReassembly nals;
  RtpH264Stream rtp;
  uint32_t sdp_written_for = 0;  // the parameter sets the SDP files carry
  double last_heard = -1e9;
  StreamStatus published;
  uint64_t pictures_before = 0;
  uint64_t overlong_reported = 0;
  double last_status_complaint = -1e9;
};

void SendToBox(Streamer* s, const uint8_t* payload, size_t length) {
  uint8_t datagram[kClientHeaderSize + 16];
  const size_t n = BuildViewerDatagram(s->sequence++, payload, length, datagram, sizeof datagram);
  if (n) sendto(s->viewer_fd, datagram, n, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&s->box), sizeof s->box);
}

void WriteSdpFiles(Streamer* s) {
  for (const Target& t : s->opt.targets) {
    if (t.sdp.empty()) continue;
    const std::string text = StreamSdp(inet_ntoa(t.address.sin_addr), ntohs(t.address.sin_port), s->rtp.sps,
                                       s->rtp.pps);
    const std::string temporary = t.sdp + ".new";
    FILE* f = std::fopen(temporary.c_str(), "w");
    const bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if ((f && std::fclose(f) != 0) || !ok || std::rename(temporary.c_str(), t.sdp.c_str()) != 0) {
      std::fprintf(stderr, "vb-stream: cannot write %s\n", t.sdp.c_str());
    }
  }
  s->sdp_written_for = s->rtp.parameter_sets;
}

void HandleVideo(Streamer* s, const uint8_t* payload, size_t length) {
  FeedVideoPayload(&s->nals, payload, length, [s](NalView nal, NalView next) {
    PacketizeNal(&s->rtp, nal, next, Clock90k(), [s](const uint8_t* packet, size_t size) {
      for (const sockaddr_in& to : s->destinations) {
        sendto(s->rtp_fd, packet, size, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
      }
    });
  });
}

void ReceiveDatagrams(Streamer* s, double now) {
  static uint8_t buffer[kClientHeaderSize + kMaxVideoPayload + 16];
  for (;;) {
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t n = recvfrom(s->viewer_fd, buffer, sizeof buffer, MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0) return;
    if (from.sin_addr.s_addr != s->box.sin_addr.s_addr || from.sin_port != s->box.sin_port) continue;
    s->last_heard = now;
    ViewerHeader header;
    if (ReadViewerHeader(buffer, static_cast<size_t>(n), &header) && header.kind == kKindVideo &&
        n > kClientHeaderSize) {
      HandleVideo(s, buffer + kClientHeaderSize, static_cast<size_t>(n) - kClientHeaderSize);
    }
  }
}

void PublishStatus(Streamer* s, const BrowserCount& browsers, double now) {
  StreamStatus status;
  status.registered = s->last_heard >= now - kAnswerWindow;
  status.pictures = static_cast<int>(s->rtp.pictures - s->pictures_before);
  status.janus = browsers.JanusAnswers();
  status.browsers = browsers.Browsers();
  // Changes only, so the log tells the stream's story line by line.
  if (status.registered != s->published.registered) {
    std::fprintf(stderr, status.registered ? "vb-stream: the box answers at %s:%u\n"
                                           : "vb-stream: the box at %s:%u does not answer\n",
                 s->opt.box_host, s->opt.box_port);
  }
  if ((status.pictures > 0) != (s->published.pictures > 0)) {
    std::fprintf(stderr, status.pictures > 0 ? "vb-stream: pictures flowing\n" : "vb-stream: no pictures\n");
  }
  s->published = status;
  s->pictures_before = s->rtp.pictures;
  std::string error;
  if (!WriteStreamStatus(s->opt.status, status, &error) && now - s->last_status_complaint >= 60) {
    std::fprintf(stderr, "vb-stream: %s\n", error.c_str());
    s->last_status_complaint = now;
  }
  // Off the video path: the parameter sets change once, or when the camera's format does.
  if (s->rtp.parameter_sets != s->sdp_written_for) WriteSdpFiles(s);
  if (s->nals.overlong != s->overlong_reported) {
    std::fprintf(stderr, "vb-stream: dropped a NAL unit longer than %zu bytes\n", kMaxNalSize);
    s->overlong_reported = s->nals.overlong;
  }
}

int Run(Streamer* s) {
  BrowserCount browsers(s->opt.janus_url);
  if (s->opt.janus) browsers.Start();
  const double start = Now();
  double next_connect = start, next_status = start + 1;
  while (!g_stop) {
    double now = Now();
    if (now >= next_connect) {
      uint8_t connect[2];
      SendToBox(s, connect, BuildConnectPayload(false, connect));
      next_connect = now + 1;
    }
    if (now >= next_status) {
      PublishStatus(s, browsers, now);
      next_status += 1;
      if (next_status < now) next_status = now + 1;
    }
    const double wait_ms = (std::min(next_connect, next_status) - Now()) * 1000;
    pollfd p{s->viewer_fd, POLLIN, 0};
    if (poll(&p, 1, wait_ms > 0 ? static_cast<int>(wait_ms) + 1 : 0) > 0) ReceiveDatagrams(s, Now());
  }
  const uint8_t disconnect = kMsgDisconnect;
  SendToBox(s, &disconnect, 1);
  browsers.Stop();
  unlink(s->opt.status.c_str());
  std::fprintf(stderr, "vb-stream: stopped after %llu pictures\n", static_cast<unsigned long long>(s->rtp.pictures));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  static Streamer s;
  if (int parsed = ParseOptions(argc, argv, &s.opt)) return parsed == 1 ? 0 : 2;
  if (!ResolveHost(s.opt.box_host, s.opt.box_port, &s.box)) {
    std::fprintf(stderr, "vb-stream: cannot resolve %s\n", s.opt.box_host);
    return 2;
  }
  if (s.opt.janus) {
    sockaddr_in janus{};
    if (!ResolveHost(s.opt.janus_host, s.opt.janus_port, &janus)) {
      std::fprintf(stderr, "vb-stream: cannot resolve %s\n", s.opt.janus_host);
      return 2;
    }
    s.destinations.push_back(janus);
  }
  for (const Target& t : s.opt.targets) s.destinations.push_back(t.address);

  s.viewer_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  s.rtp_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  // On loopback only, unless a peer is elsewhere.
  const auto loopback = [](const sockaddr_in& a) { return (ntohl(a.sin_addr.s_addr) >> 24) == 127; };
  sockaddr_in viewer_local{}, rtp_local{};
  viewer_local.sin_family = rtp_local.sin_family = AF_INET;
  if (loopback(s.box)) viewer_local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (std::all_of(s.destinations.begin(), s.destinations.end(), loopback)) {
    rtp_local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  int size = 8 << 20;  // a key frame's burst of datagrams between two reads
  if (s.viewer_fd >= 0) setsockopt(s.viewer_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  if (s.viewer_fd < 0 || s.rtp_fd < 0 ||
      bind(s.viewer_fd, reinterpret_cast<const sockaddr*>(&viewer_local), sizeof viewer_local) != 0 ||
      bind(s.rtp_fd, reinterpret_cast<const sockaddr*>(&rtp_local), sizeof rtp_local) != 0) {
    std::perror("vb-stream: socket");
    return 1;
  }
  size = 4 << 20;
  setsockopt(s.rtp_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  if (getrandom(&s.rtp.ssrc, sizeof s.rtp.ssrc, 0) != sizeof s.rtp.ssrc) s.rtp.ssrc = static_cast<uint32_t>(getpid());
  WriteSdpFiles(&s);  // without the parameter sets until the first key frame

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::fprintf(stderr, "vb-stream: viewer of %s:%u, sending RTP to %zu destination%s\n", s.opt.box_host,
               s.opt.box_port, s.destinations.size(), s.destinations.size() == 1 ? "" : "s");
  return Run(&s);
}
