// vb-web's HTTP side on a loopback port, with a real shared record and a
// stand-in box on UDP: what each kind of request is answered, that commands
// reach the mailbox one at a time, and that a settings change answers with
// the box's report.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../../tools/vb-web/box_viewer.h"
#include "../../../tools/vb-web/hud_mapping.h"
#include "../../../tools/vb-web/mailbox_queue.h"
#include "../../../tools/vb-web/settings_backup.h"
#include "../../../tools/vb-web/static_files.h"
#include "../../../tools/vb-web/stream_signalling.h"
#include "../../../tools/vb-web/web_server.h"
#include "common/wire.h"
#include "records/hud_state.h"

namespace {

using namespace std::chrono_literals;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

// The daemon's side: the shared record it owns, its mailbox thread (taking a
// command every 10 ms) and its viewer port, which acknowledges vb-web's
// registration and answers a "configrequest" with a report.
class StandInBox {
 public:
  StandInBox() : name_("/vbweb-test-" + std::to_string(getpid())) {
    int fd = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, sizeof(HudState)), 0);
    hud_ = static_cast<HudState*>(mmap(nullptr, sizeof(HudState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    close(fd);
    hud_->marker = 2;
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(0);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof address_;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length);
    thread_ = std::thread([this] { Run(); });
  }
  ~StandInBox() {
    running_ = false;
    thread_.join();
    close(fd_);
    munmap(hud_, sizeof(HudState));
    shm_unlink(name_.c_str());
  }

  void Run() {
    uint8_t buffer[1500];
    while (running_) {
      if (hud_->command_mailbox[0] != 0 && taking_) {
        std::string text(hud_->command_mailbox, strnlen(hud_->command_mailbox, kCommandMailboxSize - 1));
        std::memset(hud_->command_mailbox, 0, kCommandMailboxSize);
        {
          std::lock_guard<std::mutex> lock(commands_mutex_);
          commands_.push_back(text);
        }
        if (text.find("configrequest") != std::string::npos && answer_reports_) SendReport();
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      sockaddr_in from{};
      socklen_t length = sizeof from;
      ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
      if (n >= 13 && buffer[12] == 0) {  // connect
        viewer_ = from;
        const uint8_t ack = 'B';
        sendto(fd_, &ack, 1, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
      }
    }
  }

  void SendReport() {
    const std::string report = "{\"app\":\"cable\",\"osdbrdw\":" + std::to_string(++reports_) +
                               ",\"lan_psk\":\"secret-lan\",\"ap_psk\":\"\"}";
    uint8_t datagram[256] = {'B'};
    std::memcpy(datagram + 12, report.data(), report.size());
    sendto(fd_, datagram, 12 + report.size(), 0, reinterpret_cast<sockaddr*>(&viewer_), sizeof viewer_);
  }

  const std::string name_;
  HudState* hud_ = nullptr;
  int fd_ = -1;
  sockaddr_in address_{};
  sockaddr_in viewer_{};
  std::atomic<bool> running_{true};
  std::atomic<bool> taking_{true};
  std::atomic<bool> answer_reports_{true};
  std::atomic<int> reports_{0};
  std::vector<std::string> Commands() {
    std::lock_guard<std::mutex> lock(commands_mutex_);
    return commands_;
  }

  std::mutex commands_mutex_;
  std::vector<std::string> commands_;
  std::thread thread_;
};

struct Answer {
  int status = 0;
  std::string head;
  std::string body;
};

// One request on its own connection; the answer read to the end.
Answer Request(uint16_t port, const std::string& text) {
  Answer answer;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return answer;
  }
  timeval timeout{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  send(fd, text.data(), text.size(), MSG_NOSIGNAL);
  std::string all;
  char buffer[4096];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) all.append(buffer, static_cast<size_t>(n));
  close(fd);
  const size_t end = all.find("\r\n\r\n");
  answer.head = all.substr(0, end);
  answer.body = end == std::string::npos ? "" : all.substr(end + 4);
  if (all.size() > 12) answer.status = std::atoi(all.c_str() + 9);
  return answer;
}

std::string PostTo(const char* path, const std::string& body, const std::string& extra = "",
                   const char* type = "application/json", const std::string& host = "127.0.0.1") {
  return std::string("POST ") + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\nContent-Type: " + type +
         "\r\n" + extra + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Post(const std::string& body, const std::string& extra = "", const char* type = "application/json",
                 const std::string& host = "127.0.0.1") {
  return PostTo("/api/command", body, extra, type, host);
}

std::string Upload(const std::string& body, const char* type = "application/json") {
  return PostTo("/api/settings-restore", body, "", type);
}

std::string Get(const char* path, const char* method = "GET", const std::string& host = "127.0.0.1") {
  return std::string(method) + " " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
}

// What a browser sends once a hostile site has re-pointed its name at the box.
std::string Rebound(const std::string& body) {
  return Post(body, "Origin: http://rebind.attacker.example:8080\r\nSec-Fetch-Site: same-origin\r\n",
              "application/json", "rebind.attacker.example:8080");
}

std::string OwnHostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = "/tmp/vbweb-test-root-" + std::to_string(getpid());
    mkdir(root_.c_str(), 0700);
    std::ofstream(root_ + "/run.conf") << "control_enabled=1\n";
    std::ofstream(root_ + "/index.html") << "<!doctype html><title>box</title>";
    std::ofstream(root_ + "/.hidden") << "secret";
    std::string error;
    ASSERT_TRUE(files_.Load(root_, &error)) << error;
    ASSERT_TRUE(hud_.Refresh());
    ASSERT_TRUE(viewer_.Start(&error)) << error;
    queue_.Start();
    ASSERT_TRUE(server_.Start(Loopback(0), &error)) << error;
    port_ = server_.Port();
  }
  void TearDown() override {
    server_.BeginStop();
    queue_.Stop();
    server_.Stop();
    viewer_.Stop();
    for (const char* name : {"/index.html", "/.hidden", "/run.conf"}) unlink((root_ + name).c_str());
    unlink(stream_status_.c_str());
    rmdir(root_.c_str());
  }
  void WaitRegistered() {
    for (int i = 0; i < 300 && !viewer_.Status().registered; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(viewer_.Status().registered);
  }

  StandInBox box_;
  std::string root_;
  StaticFiles files_;
  HudMapping hud_{box_.name_};
  MailboxQueue queue_{[this](const std::function<void(char*)>& f) { return hud_.WithMailbox(f); }, 8};
  BoxViewer viewer_{box_.address_};
  // No Janus listens on port 1: every request that reaches it finds none.
  const std::string stream_status_ = "/tmp/vbweb-test-stream-" + std::to_string(getpid());
  StreamSignalling stream_{"http://127.0.0.1:1/janus", stream_status_};
  SettingsBackup backup_{{"/tmp/vbweb-test-root-" + std::to_string(getpid()) + "/run.conf", "/nonexistent", "/nonexistent"},
                         &queue_};
  WebServer server_{WebParts{&files_, &hud_, &viewer_, &queue_, {"camera.example"}, nullptr, &stream_, &backup_},
                    WebTiming{50ms, 300ms, 3}};
  uint16_t port_ = 0;
};

TEST_F(WebServerTest, EachKindOfRequestGetsItsAnswer) {
  struct Row {
    std::string request;
    int status;
    const char* part;  // in the head or body
  };
  const std::string big(3000, 'x');
  const Row rows[] = {
      {Get("/"), 200, "<title>box</title>"},
      {Get("/index.html", "HEAD"), 200, "text/html"},
      {Get("/.hidden"), 404, "no such page"},
      {Get("/../index.html"), 404, "no such page"},
      {Get("/api/limits"), 200, "\"label\":\"network SSID\""},
      {Get("/api/choices"), 200, "\"shutter\":[{\"name\":\"30s\""},
      {Get("/api/params"), 200, "{\"member\":\"value10\",\"kind\":\"choice\",\"key\":\"ap_mode\",\"choices\":[{\"word\":\"2.4\",\"reported\":\"2\""},
      {Get("/api/command"), 405, "Allow: POST"},
      {Get("/api/state", "DELETE"), 405, "Allow: GET, HEAD"},
      {PostTo("/index.html", "x", "", "text/plain"), 405, "Allow: GET, HEAD"},
      {Post(R"({"cmd":"iso"})", "", "text/plain"), 415, "application/json"},
      {Post(R"({"cmd":"iso"})", "", "application/x-www-form-urlencoded"), 415, "application/json"},
      {Post(R"({"cmd":"iso"})", "Origin: http://elsewhere.example\r\n"), 403, "own page"},
      {Post(R"({"cmd":"iso"})", "Sec-Fetch-Site: cross-site\r\n"), 403, "own page"},
      {Post(R"({"cmd":"iso"})", "Origin: http://127.0.0.1\r\nSec-Fetch-Site: same-origin\r\n"), 200, "\"ok\":true"},
      {Post(big), 413, "too long"},
      {Get("/api/settings-file"), 200, "filename=\"vantagebridge-cable.conf\"\r\n"},
      {Get("/api/settings-restore"), 405, "Allow: POST"},
      {Upload(R"({"file":"control_enabled=1\n"})"), 400, "not a file as the page sends it"},
      {Upload(R"({"file":[104,100]})"), 400, "not restored: the file is damaged: its last line has no line end"},
      {Upload(R"({"file":[104,100]})", "text/plain"), 415, "application/json"},
      {Upload("{\"file\":[" + std::string(3000, ' ') + "256]}"), 400, "not a file"},  // over a command's limit
      {Upload(std::string(kMaxRestoreBody + 1, ' ')), 413, "too long"},
      {Post("{cmd:iso}"), 400, "not a JSON object"},
      // A body whose length is not declared ahead, cut off once over the limit.
      {"POST /api/command HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: application/json\r\n"
       "Transfer-Encoding: chunked\r\n\r\nBB8\r\n" + big + "\r\n0\r\n\r\n", 413, "too long"},
      // The live video's signalling: the command's rules, a larger body for an SDP answer.
      {Get("/api/stream/watch"), 405, "Allow: POST"},
      {PostTo("/api/stream/watch", "{}", "Origin: http://elsewhere.example\r\n"), 403, "own page"},
      {PostTo("/api/stream/watch", "{}", "", "text/plain"), 415, "application/json"},
      {PostTo("/api/stream/watch", "{}"), 503, "does not answer"},
      {PostTo("/api/stream/start", R"({"session":"1","handle":"2","answer":{"type":"answer","sdp":"v=0)" + big + "\"}}"),
       503, "does not answer"},
      {PostTo("/api/stream/start", std::string(kMaxStreamRequestBody + 1, ' ')), 413, "too long"},
      {PostTo("/api/stream/start", R"({"session":"1","handle":"2","answer":{"type":"offer","sdp":"v=0"}})"), 400,
       "SDP answer"},
      {PostTo("/api/stream/keepalive", R"({"session":"12ab"})"), 400, "no valid session"},
      {PostTo("/api/stream/keepalive", R"({"session":"99999999999999999"})"), 400, "no valid session"},
      {PostTo("/api/stream/other", R"({"session":"1"})"), 404, "no such stream request"},
      // Headers larger than a connection may hold.
      {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Filler: " + std::string(20000, 'f') + "\r\n\r\n", 431, ""},
      // Only the box's own names are served: the status alone for any other.
      {Get("/", "GET", "localhost:8080"), 200, "<title>box</title>"},
      {Get("/", "GET", OwnHostName() + ".local:8080"), 200, "<title>box</title>"},
      {Get("/", "GET", "Camera.Example."), 200, "<title>box</title>"},
      {Get("/", "GET", "rebind.attacker.example:8080"), 421, "Content-Length: 0"},
      {Get("/api/config", "GET", "rebind.attacker.example:8080"), 421, "Content-Length: 0"},
      {Get("/events", "GET", "rebind.attacker.example"), 421, "Content-Length: 0"},
      {Rebound(R"({"cmd":"configrequest"})"), 421, "Content-Length: 0"},
      {Rebound(R"({"cmd":"reboot"})"), 421, "Content-Length: 0"},
      {Get("/", "GET", "127.0.0.2"), 421, "Content-Length: 0"},  // in the loopback network, not the box's address
      {Get("/", "GET", "127.0.0.1:8080:80"), 421, "Content-Length: 0"},
      {Get("/", "GET", "[::1]:8080"), 421, "Content-Length: 0"},
      {"GET / HTTP/1.0\r\n\r\n", 421, "Content-Length: 0"},
  };
  for (const Row& row : rows) {
    const Answer a = Request(port_, row.request);
    EXPECT_EQ(a.status, row.status) << row.request.substr(0, 90) << "\n" << a.head;
    EXPECT_NE((a.head + a.body).find(row.part), std::string::npos) << row.request.substr(0, 90) << "\n" << a.body;
    // A refusal says why, as JSON, except where only the status may be told.
    if (a.status >= 400 && a.status != 421 && a.status != 431) {
      EXPECT_EQ(a.body.rfind("{\"ok\":false,\"error\":\"", 0), 0u) << row.request.substr(0, 90) << "\n" << a.body;
    }
  }
  // Only the one accepted command reached the mailbox.
  EXPECT_EQ(box_.Commands(), std::vector<std::string>{R"({"cmd":"iso"})"});
}

TEST_F(WebServerTest, ASettingsChangeIsAnsweredWithTheBoxsReportWithoutItsPasswords) {
  WaitRegistered();
  const Answer a = Request(port_, Post(R"({"cmd":"updateparam","name":"osd_borders","value":"12","value2":"3"})"));
  EXPECT_EQ(a.status, 200) << a.body;
  EXPECT_EQ(a.body, R"({"ok":true,"report":{"app":"cable","osdbrdw":1,"lan_psk_set":true,"ap_psk_set":false}})");
  EXPECT_EQ(Request(port_, Get("/api/config")).body, R"({"app":"cable","osdbrdw":1,"lan_psk_set":true,"ap_psk_set":false})");
  // A Wi-Fi change that leaves a password out keeps the box's current one.
  const Answer wifi = Request(port_, Post(R"({"cmd":"updateparam","name":"wifi","value5":"home","value9":"new-ap-pass"})"));
  EXPECT_EQ(wifi.status, 200) << wifi.body;
  EXPECT_EQ(wifi.body.find("secret"), std::string::npos);
  const std::vector<std::string> sent = box_.Commands();
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[1], R"({"cmd":"configrequest"})");
  EXPECT_EQ(sent[3], R"({"cmd":"updateparam","name":"wifi","value5":"home","value9":"new-ap-pass","value6":"secret-lan"})");
}

TEST_F(WebServerTest, AConfigRequestThatGetsNoReportSaysSoAfterItsRetries) {
  // Registered, but the box sends no report: three requests, then "report":null.
  WaitRegistered();
  box_.answer_reports_ = false;
  const Answer a = Request(port_, Post(R"({"cmd":"configrequest"})"));
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "{\"ok\":true,\"report\":null}");
  EXPECT_EQ(box_.Commands().size(), 3u);
}

TEST_F(WebServerTest, TheLiveStateComesFromTheRecordAndStreams) {
  box_.hud_->camera_status_flags = 0x80;  // recording
  box_.hud_->camera_status_valid = 1;
  box_.hud_->work_mode = 1;
  box_.hud_->data_connected = 1;
  box_.hud_->client_count = 3;
  box_.hud_->pan_rad = 90 * 0.01745329238474369;
  box_.hud_->tilt_rad = std::nan("");
  std::strcpy(box_.hud_->last_media_file, "100MEDIA/\"A\".MP4");
  StreamStatus stream;
  stream.registered = stream.janus = true;
  stream.pictures = 30;
  stream.browsers = 2;
  std::string error;
  ASSERT_TRUE(WriteStreamStatus(stream_status_, stream, &error)) << error;
  WaitRegistered();
  Answer a = Request(port_, Get("/api/state"));
  EXPECT_EQ(a.status, 200);
  // Of the three viewers, vb-web and vb-stream are the box's own.
  for (const char* part : {"\"answering\":true", "\"record\":true", "\"camera\":true", "\"viewers\":1",
                           "\"stream\":{\"running\":true,\"browsers\":2}",
                           "\"pan\":90.0", "\"tilt\":null", "\"recording\":true", "\"mode\":\"video\"",
                           "\"media\":\"100MEDIA/\\\"A\\\".MP4\""}) {
    EXPECT_NE(a.body.find(part), std::string::npos) << part << " in " << a.body;
  }
  // The event stream: the retry hint, then a state event per period.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port_);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string get = Get("/events");
  send(fd, get.data(), get.size(), MSG_NOSIGNAL);
  std::string seen;
  char buffer[4096];
  for (int i = 0; i < 200 && (seen.find("event: state") == std::string::npos ||
                              seen.find("event: state", seen.find("event: state") + 1) == std::string::npos);
       ++i) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      seen.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  EXPECT_NE(seen.find("text/event-stream"), std::string::npos);
  EXPECT_NE(seen.find("retry: 2000"), std::string::npos);
  EXPECT_NE(seen.find("\"recording\":true"), std::string::npos) << seen;
}

TEST_F(WebServerTest, WithoutTheRecordCommandsAreRefusedAtOnce) {
  box_.taking_ = false;
  shm_unlink(box_.name_.c_str());
  ASSERT_FALSE(hud_.Refresh());
  const Answer a = Request(port_, Post(R"({"cmd":"iso","param":"400"})"));
  EXPECT_EQ(a.status, 503);
  EXPECT_NE(a.body.find("not running"), std::string::npos);
  EXPECT_EQ(Request(port_, Get("/api/state")).body.find("\"attitude\""), std::string::npos);
}

}  // namespace

// A file that vanished since the listing is skipped; one that cannot be read
// (a link loop) stops the load with its name instead of a page short of it.
TEST(StaticFilesLoad, AnEntryThatCannotBeReadIsAnError) {
  struct Row {
    const char* link_target;
    bool loads;
  } rows[] = {{"missing.html", true}, {"loop.html", false}};
  for (const Row& row : rows) {
    const std::string root = "/tmp/vbweb-files-" + std::to_string(getpid());
    mkdir(root.c_str(), 0700);
    std::ofstream(root + "/index.html") << "<!doctype html>";
    ASSERT_EQ(symlink(row.link_target, (root + "/loop.html").c_str()), 0);
    StaticFiles files;
    std::string error;
    EXPECT_EQ(files.Load(root, &error), row.loads) << row.link_target << ": " << error;
    if (!row.loads) {
      EXPECT_NE(error.find("loop.html"), std::string::npos) << error;
    }
    unlink((root + "/loop.html").c_str());
    unlink((root + "/index.html").c_str());
    rmdir(root.c_str());
  }
}
