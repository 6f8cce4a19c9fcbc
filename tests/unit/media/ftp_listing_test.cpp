// The listing against a real anonymous FTP server on loopback (pyftpdlib),
// serving a temporary folder.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/shared_field.h"
#include "media/ftp_listing.h"
#include "platform/clock.h"
#include "read_file.h"
#include "records/hud_state.h"
#include "records/media_request.h"
#include "records/usb_peer.h"
#include "writable_records.h"

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// A listening TCP socket on 127.0.0.1 at a free port.
int LoopbackListener(uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  listen(fd, 4);
  socklen_t n = sizeof(a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  *port = ntohs(a.sin_port);
  return fd;
}

uint16_t FreeTcpPort() {
  uint16_t port = 0;
  close(LoopbackListener(&port));
  return port;
}

bool Accepts(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  close(fd);
  return ok;
}

int CountOf(const std::string& text, const std::string& word) {
  int n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

// One server for the whole suite; each test lays out its own DCIM folder.
class FtpListing : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir_template[] = "/tmp/vb-ftp-XXXXXX";
    root_ = mkdtemp(dir_template);
    log_ = root_.string() + ".log";
    port_ = FreeTcpPort();
    server_ = fork();
    if (server_ == 0) {
      FILE* log = fopen(log_.c_str(), "w");
      if (log != nullptr) {
        dup2(fileno(log), STDOUT_FILENO);
        dup2(fileno(log), STDERR_FILENO);
      }
      const std::string port = std::to_string(port_);
      const char* python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
      execlp(python, python, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", port.c_str(), "-d",
             root_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    const uint32_t start = MillisecondClock();
    while (!Accepts(port_) && MillisecondClock() - start < 20000) {
      if (waitpid(server_, nullptr, WNOHANG) == server_) {
        server_ = -1;
        break;
      }
      poll(nullptr, 0, 50);
    }
  }

  static void TearDownTestSuite() {
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    fs::remove(log_, ignored);
  }

  void SetUp() override {
    ASSERT_GT(server_, 0) << "the FTP server (python3 -m pyftpdlib) did not start:\n" << ReadFile(log_);
    ASSERT_TRUE(Accepts(port_)) << ReadFile(log_);
    fs::remove_all(root_ / "DCIM");
    fs::create_directories(root_ / "DCIM");
    SetMediaListingServer("127.0.0.1", port_);
    SetMediaListingLimits(DefaultMediaListingLimits());
    memset(WritableHudState()->last_media_file, '?', sizeof(GetHudState()->last_media_file));
  }

  void TearDown() override { SetMediaListingServer(nullptr, 0); }

  static void AddFiles(const std::string& folder, const std::vector<std::string>& files) {
    fs::create_directories(root_ / "DCIM" / folder);
    for (const std::string& f : files) std::ofstream(root_ / "DCIM" / folder / f) << "x";
  }

  // Read as the other programs do, while the listing thread may be writing.
  static std::string Published() {
    char text[40];
    LoadSharedBytes(text, GetHudState()->last_media_file, sizeof text);
    return std::string(text, strnlen(text, sizeof text));
  }

  static bool PublishedAllZero() {
    char text[40];
    LoadSharedBytes(text, GetHudState()->last_media_file, sizeof text);
    for (int i = 0; i < 40; ++i) {
      if (text[i] != 0) return false;
    }
    return true;
  }

  static std::string RunLogged() {
    CaptureStderr();
    ListNewestMedia();
    return GetCapturedStderr();
  }

  static inline fs::path root_;
  static inline std::string log_;
  static inline uint16_t port_ = 0;
  static inline pid_t server_ = -1;
};

// What the listing publishes and logs, by what DCIM holds.
TEST_F(FtpListing, PublishesTheLastFileOfTheLastMediaFolder) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::vector<std::string>>> folders;
    const char* published;  // and logged; "" for the cleared result
  };
  const Case cases[] = {
      {"last file of the last media folder",
       {{"100MEDIA", {"DJI_0001.JPG"}}, {"101MEDIA", {"DJI_0002.JPG", "DJI_0003.MOV"}}, {"MISC", {"ZZZ.TXT"}}},
       "101MEDIA/DJI_0003.MOV"},
      {"long name cut to 39 characters",
       {{"100MEDIA", {"A_FILE_NAME_LONG_ENOUGH_TO_BE_CUT_AT_THE_END.MP4"}}},
       "100MEDIA/A_FILE_NAME_LONG_ENOUGH_TO_BE_"},
      {"empty DCIM", {}, ""},
      {"no media folder", {{"MISC", {"A.TXT"}}}, ""},
      {"empty media folder", {{"MISC", {"A.TXT"}}, {"100MEDIA", {}}}, ""},
  };
  for (const Case& c : cases) {
    fs::remove_all(root_ / "DCIM");
    fs::create_directories(root_ / "DCIM");
    for (const auto& [folder, files] : c.folders) AddFiles(folder, files);
    memset(WritableHudState()->last_media_file, '?', 40);
    const std::string log = RunLogged();
    if (*c.published == '\0') {
      EXPECT_NE(log.find("FTP: empty result\n"), std::string::npos) << c.what << ": " << log;
      EXPECT_EQ(log.find("FTP list failed"), std::string::npos) << c.what << ": " << log;
      EXPECT_TRUE(PublishedAllZero()) << c.what;
    } else {
      EXPECT_EQ(log, std::string(c.published) + "\n") << c.what;
      EXPECT_EQ(Published(), c.published) << c.what;
      EXPECT_EQ(GetHudState()->last_media_file[39], 0) << c.what;
    }
  }
}

// A server gone, a camera whose address is not known, or a server that
// accepts the connection and never says a word: the result is cleared.
TEST_F(FtpListing, NoListingClearsTheResult) {
  uint16_t stalled_port = 0;
  const int stalled = LoopbackListener(&stalled_port);
  SetMediaListingLimits(MediaListingLimits{300, 300, 1, 2000});
  const sockaddr_in saved = CameraAddress();
  for (const char* what : {"server gone", "camera address unknown", "server stalled"}) {
    const std::string which = what;
    if (which == "server gone") SetMediaListingServer("127.0.0.1", FreeTcpPort());
    if (which == "camera address unknown") {
      SetMediaListingServer(nullptr, 0);
      SetCameraAddress(sockaddr_in{});
    }
    if (which == "server stalled") SetMediaListingServer("127.0.0.1", stalled_port);
    EXPECT_EQ(RunLogged(), "FTP list failed\nFTP: empty result\n") << what;
    EXPECT_TRUE(PublishedAllZero()) << what;
    SetCameraAddress(saved);
  }
  close(stalled);
}

// The descriptor of this process whose TCP socket is bound to the given local
// port, found through /proc alone: the descriptors belong to curl's thread,
// which may open or close them meanwhile.
int SocketOnLocalPort(uint16_t port) {
  std::string inode;
  std::ifstream tcp("/proc/self/net/tcp");
  std::string line;
  std::getline(tcp, line);  // the heading
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, node;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> node;
    const size_t colon = local.find(':');
    if (colon != std::string::npos && std::stoul(local.substr(colon + 1), nullptr, 16) == port) inode = node;
  }
  if (inode.empty()) return -1;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error).string() == "socket:[" + inode + "]") {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

// Whether the descriptor is close-on-exec, from /proc/self/fdinfo (its octal flags).
bool CloseOnExec(int fd) {
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
  std::string key, flags;
  while (info >> key >> flags) {
    if (key == "flags:") return (std::stoul(flags, nullptr, 8) & O_CLOEXEC) != 0;
  }
  return false;
}

TEST_F(FtpListing, TheTransfersSocketIsCloseOnExec) {
  uint16_t port = 0;
  const int listener = LoopbackListener(&port);
  const std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/DCIM/";
  SetMediaListingLimits(MediaListingLimits{5000, 5000, 5, 10000});
  CaptureStderr();
  char area[64];
  std::thread fetch([&] { FetchDirectory(url.c_str(), area, sizeof area); });
  // While the server keeps silent, curl's end of the connection is open.
  sockaddr_in peer{};
  socklen_t peer_length = sizeof peer;
  const int accepted = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peer_length, SOCK_CLOEXEC);
  EXPECT_GE(accepted, 0);
  const int curl_fd = accepted < 0 ? -1 : SocketOnLocalPort(ntohs(peer.sin_port));
  EXPECT_GE(curl_fd, 0);
  if (curl_fd >= 0) {
    EXPECT_TRUE(CloseOnExec(curl_fd));
  }
  if (accepted >= 0) close(accepted);
  fetch.join();
  GetCapturedStderr();
  SetMediaListingLimits(DefaultMediaListingLimits());
  close(listener);
}

TEST_F(FtpListing, FetchKeepsWithinTheDestination) {
  std::vector<std::string> names;
  for (int i = 0; i < 50; ++i) names.push_back("DJI_" + std::to_string(1000 + i) + ".JPG");
  AddFiles("100MEDIA", names);
  const std::string url = "ftp://127.0.0.1:" + std::to_string(port_) + "/DCIM/100MEDIA/";
  char area[16 + 8];
  memset(area, '#', sizeof(area));
  CaptureStderr();
  FetchDirectory(url.c_str(), area, 16);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(std::string(area), "DJI_1000.JPG\nDJ");
  for (size_t i = 16; i < sizeof(area); ++i) EXPECT_EQ(area[i], '#') << "byte " << i;
}

// Last: starts the listing thread, which lives on until the process ends.
TEST_F(FtpListing, TwoRequestsWithinASecondGiveOneListing) {
  AddFiles("100MEDIA", {"DJI_0007.JPG"});
  const std::string folder_visit = "CWD " + (root_ / "DCIM" / "100MEDIA").string() + " 250";
  const int visits_before = CountOf(ReadFile(log_), folder_visit);
  CaptureStderr();
  StartMediaListing();
  RequestMediaListing();
  RequestMediaListing();
  const uint32_t start = MillisecondClock();
  while (Published() != "100MEDIA/DJI_0007.JPG" && MillisecondClock() - start < 20000) poll(nullptr, 0, 20);
  // Give a second listing, if any, time to show (the thread polls once a second).
  poll(nullptr, 0, 2500);
  const std::string log = GetCapturedStderr();
  EXPECT_EQ(Published(), "100MEDIA/DJI_0007.JPG");
  EXPECT_EQ(CountOf(log, "100MEDIA/DJI_0007.JPG\n"), 1) << log;
  EXPECT_EQ(log.rfind("Init FTP\n", 0), 0u) << log;
  EXPECT_EQ(CountOf(ReadFile(log_), folder_visit) - visits_before, 1);
}

}  // namespace
