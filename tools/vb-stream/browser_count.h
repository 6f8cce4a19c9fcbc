// How many browsers watch the stream, asked of Janus's streaming plugin every
// two seconds on a thread of its own, so a slow or missing Janus never holds
// up the video.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class BrowserCount {
 public:
  explicit BrowserCount(std::string janus_url);
  ~BrowserCount();
  BrowserCount(const BrowserCount&) = delete;
  BrowserCount& operator=(const BrowserCount&) = delete;

  void Start();
  void Stop();

  bool JanusAnswers() const { return answers_.load(std::memory_order_relaxed); }
  int Browsers() const { return browsers_.load(std::memory_order_relaxed); }

 private:
  void Run();

  const std::string url_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::atomic<bool> answers_{false};
  std::atomic<int> browsers_{0};
};
