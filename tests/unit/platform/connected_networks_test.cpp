// The connected-network rule against real interfaces: in a private network
// namespace of a child process, so the machine's own interfaces never change.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "loopback.h"
#include "platform/arrival_interface.h"
#include "platform/connected_networks.h"
#include "platform/source_filter.h"

namespace {

in_addr_t Address(const char* text) { return inet_addr(text); }

// Runs body in a child inside a new network namespace; the child's exit status
// is the number of failed checks (or 100 when the namespace cannot be made).
int InPrivateNetwork(int (*body)()) {
  pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNET) != 0) _Exit(100);
    _Exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

int Quiet(const char* command_line) {
  char line[256];
  snprintf(line, sizeof line, "%s >/dev/null 2>&1", command_line);
  return system(line);
}

// Loopback counts, outside does not, and networks count as they come and go.
TEST(ConnectedNetworks, FollowsAddressesAddedAndRemoved) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private network namespace";
  int failures = InPrivateNetwork([]() {
    if (Quiet("ip link set lo up") != 0) return 100;
    RefreshConnectedNetworks();  // the watchdog's first look, before any peer was checked
    int failed = 0;
    failed += !IsInConnectedNetwork(Address("127.0.0.1"));
    failed += !IsInConnectedNetwork(Address("127.8.9.10"));  // all of 127.0.0.0/8 is on lo
    failed += IsInConnectedNetwork(Address("192.0.2.1"));
    failed += IsInConnectedNetwork(Address("0.0.0.0"));
    failed += IsInConnectedNetwork(Address("10.77.0.9"));
    // A new network counts on the very next check, without waiting for a refresh.
    if (Quiet("ip addr add 10.77.0.1/24 dev lo") != 0) return 100;
    failed += !IsInConnectedNetwork(Address("10.77.0.9"));
    failed += IsInConnectedNetwork(Address("10.77.1.9"));  // outside the /24
    // A network that went away stops counting at the next refresh.
    if (Quiet("ip addr del 10.77.0.1/24 dev lo") != 0) return 100;
    for (int i = 0; i < 50 && IsInConnectedNetwork(Address("10.77.0.9")); ++i) {
      usleep(20000);  // the kernel reports the change asynchronously
      RefreshConnectedNetworks();
    }
    failed += IsInConnectedNetwork(Address("10.77.0.9"));
    failed += !IsInConnectedNetwork(Address("127.0.0.1"));
    return failed;
  });
  ASSERT_NE(failures, 100) << "no private network namespace";
  EXPECT_EQ(failures, 0);
}

TEST(ConnectedNetworks, NetworkAndBroadcastAddressesAreNoPeersAndAPointToPointPeerIs) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private network namespace";
  int failures = InPrivateNetwork([]() {
    if (Quiet("ip link set lo up") != 0 || Quiet("ip addr add 10.77.0.1/24 dev lo") != 0 ||
        Quiet("ip addr add 10.80.0.1 peer 10.80.0.2 dev lo") != 0 ||
        Quiet("ip addr add 10.81.0.1 peer 10.82.0.0/30 dev lo") != 0 ||
        Quiet("ip addr add 10.83.0.1/31 dev lo") != 0) {
      return 100;
    }
    const struct {
      const char* address;
      bool peer;
    } rows[] = {
        {"10.77.0.254", true},       {"10.77.0.0", false},  {"10.77.0.255", false},
        {"127.0.0.0", false},        {"127.255.255.255", false},
        {"10.80.0.2", true},         {"10.80.0.1", true},   {"10.80.0.3", false},  // a /32 peer, the box's end
        {"10.82.0.1", true},         {"10.82.0.3", false},  {"10.81.0.2", false},  // a peer's network
        {"10.83.0.0", true},         {"10.83.0.1", true},                          // a /31 pair
    };
    int failed = 0;
    for (const auto& row : rows) {
      if (IsInConnectedNetwork(Address(row.address)) != row.peer) {
        fprintf(stderr, "%s: %s\n", row.address, row.peer ? "refused" : "accepted");
        ++failed;
      }
    }
    return failed;
  });
  ASSERT_NE(failures, 100) << "no private network namespace";
  EXPECT_EQ(failures, 0);
}

// For the camera's ports the arrival interface decides first: only the camera
// link's is the camera's, whatever the source address. The kernel reports it
// for each datagram.
TEST(CameraSources, OnlyWhatArrivesOnTheCameraLinkIsTheCamera) {
  const int lo = static_cast<int>(if_nametoindex("lo"));
  ASSERT_GT(lo, 0);
  uint16_t port = 0;
  const int fd = OpenLoopbackUdp(&port);
  ReportArrivalInterface(fd);
  SendTo(fd, port, "x", 1);
  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[kArrivalControlSize];
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ASSERT_EQ(recvmsg(fd, &message, 0), 1);
  close(fd);
  EXPECT_EQ(ArrivalInterface(message), lo);

  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = Address("127.0.0.2");
  const struct {
    const char* camera_interface;
    int arrival;
    bool camera;
  } rows[] = {
      {"lo", lo, true},
      {"lo", 0, false},            // no arrival reported
      {"lo", lo + 1000, false},    // another interface
      {"vb-nowhere0", lo, false},  // the camera link is not there at all
      {"lo; rm", lo, false},       // no interface name: usb0, which this is not
  };
  for (const auto& row : rows) {
    SetCameraInterface(row.camera_interface);
    SourceFilter filter{"camera", {}};
    EXPECT_EQ(AcceptCameraSource(&filter, from, row.arrival), row.camera) << row.camera_interface << row.arrival;
  }
  SetCameraInterface(kDefaultCameraInterface);
}

}  // namespace
