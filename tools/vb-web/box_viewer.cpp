#include "box_viewer.h"

#include <cjson/cJSON.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "../common/viewer_datagram.h"
#include "records/viewer_protocol.h"

namespace {

constexpr auto kAnswerWindow = std::chrono::seconds(3);
constexpr auto kConnectPeriod = std::chrono::seconds(1);

// The configuration report is the JSON data message whose "app" is "cable".
bool IsConfigReport(const uint8_t* payload, size_t length) {
  std::string text(reinterpret_cast<const char*>(payload), length);
  cJSON* root = cJSON_Parse(text.c_str());
  const cJSON* app = cJSON_GetObjectItemCaseSensitive(root, "app");
  const bool report = cJSON_IsString(app) && std::strcmp(app->valuestring, "cable") == 0;
  cJSON_Delete(root);
  return report;
}

}  // namespace

BoxViewer::BoxViewer(const sockaddr_in& box) : box_(box) {}

BoxViewer::~BoxViewer() { Stop(); }

bool BoxViewer::Start(std::string* error) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    *error = std::string("viewer socket: ") + std::strerror(errno);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void BoxViewer::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  thread_.join();
  const uint8_t disconnect = kMsgDisconnect;
  Send(&disconnect, 1);
  close(fd_);
  fd_ = -1;
}

void BoxViewer::Send(const uint8_t* payload, size_t length) {
  uint8_t datagram[kClientHeaderSize + 16];
  const size_t n = BuildViewerDatagram(sequence_++, payload, length, datagram, sizeof datagram);
  if (n) sendto(fd_, datagram, n, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&box_), sizeof box_);
}

void BoxViewer::Run() {
  pthread_setname_np(pthread_self(), "web-viewer");
  auto next_connect = std::chrono::steady_clock::now();
  static thread_local uint8_t buffer[70000];
  while (!stopping_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= next_connect) {
      uint8_t connect[2];
      Send(connect, BuildConnectPayload(true, connect));  // data only: no video
      next_connect = now + kConnectPeriod;
    }
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n;
    while ((n = recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                         &from_length)) >= 0) {
      // Only the daemon's own datagrams count.
      if (from.sin_addr.s_addr == box_.sin_addr.s_addr && from.sin_port == box_.sin_port) {
        Handle(buffer, static_cast<size_t>(n));
      }
      from_length = sizeof from;
    }
  }
}

void BoxViewer::Handle(const uint8_t* d, size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  last_heard_ = std::chrono::steady_clock::now();
  if (IsViewerAck(d, n)) {
    status_.registered = true;
    return;
  }
  ViewerHeader header;
  if (!ReadViewerHeader(d, n, &header) || header.kind != kKindData || n == static_cast<size_t>(kClientHeaderSize)) {
    return;
  }
  const uint8_t* payload = d + kClientHeaderSize;
  const size_t length = n - kClientHeaderSize;
  if (payload[0] == kMsgStatus && length >= 7) {
    status_.have_status = true;
    status_.flags = payload[1];
  } else if (payload[0] == kMsgJsonText && IsConfigReport(payload, length)) {
    report_ = HidePasswords(std::string_view(reinterpret_cast<const char*>(payload), length), &passwords_);
    ++report_number_;
    report_arrived_.notify_all();
  }
}

BoxStatus BoxViewer::Status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  BoxStatus status = status_;
  status.answering = last_heard_ != std::chrono::steady_clock::time_point{} &&
                     std::chrono::steady_clock::now() - last_heard_ < kAnswerWindow;
  if (!status.answering) status.registered = false;
  return status;
}

uint64_t BoxViewer::ReportNumber() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return report_number_;
}

std::string BoxViewer::Report() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return report_;
}

ReportPasswords BoxViewer::Passwords() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return passwords_;
}

bool BoxViewer::WaitForReport(uint64_t after, std::chrono::milliseconds timeout, std::string* report) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!report_arrived_.wait_for(lock, timeout, [&] { return report_number_ > after; })) return false;
  *report = report_;
  return true;
}
