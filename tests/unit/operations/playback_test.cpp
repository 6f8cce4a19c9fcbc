#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "command_test_support.h"
#include "operations/playback.h"
#include "writable_records.h"

namespace commands_test {
namespace {

constexpr const char* kIdle = "00 00 00 00 00 91 0D 00 00 9C";
constexpr const char* kNext = "00 00 20 00 00 91 0D 00 00 BC";
constexpr const char* kPlay = "00 00 02 00 00 91 0D 00 00 9E";
constexpr const char* kCancel = "00 00 01 00 00 91 0D 00 00 9D";
constexpr const char* kBack = "00 00 00 01 00 91 0D 00 00 9D";
constexpr const char* kSelectMode = "00 00 04 00 00 91 0D 00 00 98";
constexpr const char* kKey0F = "00 00 00 00 00 91 0F 00 00 9E";

// rounds x (first frame, second frame) of one key payload.
struct Burst {
  const char* payload;
  int rounds;
  bool camera_only = false;
};

std::vector<std::string> Expected(std::initializer_list<Burst> bursts) {
  std::vector<std::string> out;
  for (const Burst& b : bursts) {
    for (int i = 0; i < b.rounds; ++i) {
      out.push_back(std::string("23 09>01 00 01:01 | ") + b.payload);
      out.push_back(std::string(b.camera_only ? "23 09>01 00 01:01 | " : "23 09>04 00 01:01 | ") + b.payload);
    }
  }
  return out;
}

using Playback = CommandTest;

// Each text's key groups, by the camera's playback state where it matters.
TEST_F(Playback, EachTextSendsItsKeyGroups) {
  const struct {
    const char* text;
    uint8_t playback_state;
    std::vector<std::string> texts;
  } cases[] = {
      {"enter", 0, Expected({{"03 00 00 00 00 91 0D 00 00 9F", 3}, {kIdle, 3}})},
      {"exit", 0, Expected({{"01 00 00 00 00 91 0D 00 00 9D", 3}, {kIdle, 3}})},
      {"list", 0, Expected({{"00 00 00 08 00 91 0D 00 00 94", 3}, {kIdle, 3}})},
      {"next", 0, Expected({{kNext, 3}, {kIdle, 3}})},
      {"prev", 0, Expected({{"00 00 40 00 00 91 0D 00 00 DC", 3}, {kIdle, 3}})},
      {"selectmode", 0, Expected({{kSelectMode, 3}, {kIdle, 3}})},
      {"selectall", 0, Expected({{"00 00 00 20 00 91 0D FD 00 41", 3}, {kIdle, 3}})},
      {"deselectall", 0, Expected({{"00 00 00 20 00 91 0D FC 00 40", 3}, {kIdle, 3}})},
      {"play", 0, Expected({{kPlay, 3, true}, {kIdle, 3}})},  // to the camera only
      {"cancel", 0, Expected({{kCancel, 5}, {kIdle, 5}, {kCancel, 3}, {kIdle, 3}})},
      {"back", 0, Expected({{kBack, 5}, {kIdle, 5}, {kKey0F, 5}, {kIdle, 5}})},
      {"delete", 2, Expected({{kSelectMode, 3}, {kIdle, 3}})},  // outside playback: only selects
      {"delete", 4, Expected({{kKey0F, 5}, {kIdle, 5}, {kPlay, 5}, {kIdle, 5}})},
  };
  for (const auto& c : cases) {
    WritableHudState()->playback_state = c.playback_state;
    NavigatePlayback(c.text);
    EXPECT_EQ(TextsSoFar(end_), c.texts) << c.text << " in playback state " << int(c.playback_state);
  }
}

TEST_F(Playback, UnknownTextsDoNothing) {
  for (const char* text : {"rewind", "", "Next", "next ", "delete\n"}) NavigatePlayback(text);
  EXPECT_TRUE(TextsSoFar(end_).empty());
}

TEST_F(Playback, FramesCarryConsecutiveSequenceNumbers) {
  NavigatePlayback("next");
  auto frames = FramesSoFar(end_);
  ASSERT_EQ(frames.size(), 12u);
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i].sequence, static_cast<uint16_t>(frames[0].sequence + i));
}

// ---- timing: these two wait for real ----

struct TimedFrame {
  std::string text;
  double ms;  // kernel receive time
};

// Receives one datagram with the kernel's receive time (-1 when it has none).
bool ReceiveTimed(int fd, Datagram* d, double* ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 5000) <= 0) return false;
  uint8_t buf[2048];
  char control[CMSG_SPACE(sizeof(timespec))];
  iovec io{buf, sizeof buf};
  msghdr msg{};
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n = recvmsg(fd, &msg, 0);
  if (n < 0) return false;
  d->assign(buf, buf + n);
  *ms = -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) {
      timespec ts;
      std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
      *ms = ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
    }
  }
  return true;
}

double NowMs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// The kernel turns receive time stamps on a little after they are asked for;
// until then a datagram is stamped when it is read. Probes until a datagram
// read 20 ms after it was sent carries its arrival time.
bool EnableReceiveTimes(const CameraEnd& end) {
  int on = 1;
  if (setsockopt(end.camera_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    SendTo(end.box_fd, end.camera_port, "probe", 5);
    const double sent = NowMs();
    usleep(20000);
    Datagram d;
    double ms = -1;
    if (!ReceiveTimed(end.camera_fd, &d, &ms)) return false;
    if (ms >= 0 && ms < sent + 10) return true;
  }
  return false;
}

std::vector<TimedFrame> TimedFramesSoFar(const CameraEnd& end) {
  SendTo(end.box_fd, end.camera_port, kMarker, sizeof kMarker - 1);
  std::vector<TimedFrame> out;
  Datagram d;
  double ms = -1;
  while (ReceiveTimed(end.camera_fd, &d, &ms)) {
    if (d == Datagram(kMarker, kMarker + sizeof kMarker - 1)) break;
    out.push_back({FrameText(DecodeSentFrame(d)), ms});
  }
  return out;
}

TEST_F(Playback, NextSpacesFramesAndPausesBetweenPressAndRelease) {
  SkipSleepsForFuzzing(false);
  ASSERT_TRUE(EnableReceiveTimes(end_));
  NavigatePlayback("next");
  auto frames = TimedFramesSoFar(end_);
  ASSERT_EQ(frames.size(), 12u);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].text, Expected({{kNext, 3}, {kIdle, 3}})[i]);
    ASSERT_GE(frames[i].ms, 0);
  }
  // 10 ms apart within each half (a sleep never ends early; generous ceiling).
  for (size_t i = 1; i < 12; ++i) {
    if (i == 6) continue;
    double gap = frames[i].ms - frames[i - 1].ms;
    EXPECT_GE(gap, 9.0) << "frame " << i;
    EXPECT_LT(gap, 100.0) << "frame " << i;
  }
  // 10 ms after the last round plus the 100 ms pause.
  double pause = frames[6].ms - frames[5].ms;
  EXPECT_GE(pause, 109.0);
  EXPECT_LT(pause, 400.0);
}

TEST_F(Playback, BackWithTheLinkDownStillTakesItsTime) {
  SkipSleepsForFuzzing(false);
  WritableLinkState()->link_up = 0;
  auto start = std::chrono::steady_clock::now();
  NavigatePlayback("back");
  double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(TextsSoFar(end_).empty());
  EXPECT_GE(took, 4200.0);
  EXPECT_LT(took, 20000.0);
}

}  // namespace
}  // namespace commands_test
