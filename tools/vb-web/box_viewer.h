// vb-web as a data-only viewer of the daemon, from loopback: the daemon sends
// its configuration report only to registered viewers, as a data message after
// a "configrequest". The viewer keeps the latest report (its passwords apart),
// the latest status message, and when the daemon last answered at all.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "report_passwords.h"

struct BoxStatus {
  bool answering = false;   // a datagram from the daemon within the last 3 s
  bool registered = false;  // the daemon acknowledged the registration
  bool have_status = false; // a status message arrived
  uint8_t flags = 0;        // of the latest status message
};

class BoxViewer {
 public:
  explicit BoxViewer(const sockaddr_in& box);
  ~BoxViewer();
  BoxViewer(const BoxViewer&) = delete;
  BoxViewer& operator=(const BoxViewer&) = delete;

  bool Start(std::string* error);
  // Sends the disconnect request and ends the thread.
  void Stop();

  BoxStatus Status() const;
  // Reports are numbered from 1 as they arrive; 0: none yet.
  uint64_t ReportNumber() const;
  // The latest report without its passwords, and those passwords.
  std::string Report() const;
  ReportPasswords Passwords() const;
  // Waits for a report numbered above after; true with its text.
  bool WaitForReport(uint64_t after, std::chrono::milliseconds timeout, std::string* report);

 private:
  void Run();
  void Send(const uint8_t* payload, size_t length);
  void Handle(const uint8_t* datagram, size_t length);

  const sockaddr_in box_;
  int fd_ = -1;
  uint32_t sequence_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable report_arrived_;
  BoxStatus status_;
  std::chrono::steady_clock::time_point last_heard_{};
  uint64_t report_number_ = 0;
  std::string report_;
  ReportPasswords passwords_;
};
