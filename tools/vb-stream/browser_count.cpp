#include "browser_count.h"

#include <pthread.h>

#include <chrono>
#include <cstdio>

#include "../common/janus_client.h"

BrowserCount::BrowserCount(std::string janus_url) : url_(std::move(janus_url)) {}

BrowserCount::~BrowserCount() { Stop(); }

void BrowserCount::Start() { thread_ = std::thread([this] { Run(); }); }

void BrowserCount::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void BrowserCount::Run() {
  pthread_setname_np(pthread_self(), "janus-count");
  JanusClient janus(url_);
  uint64_t session = 0, handle = 0;
  std::string error, last_error;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    if (session == 0 && !janus.Open(&session, &handle, &error)) session = 0;
    JanusJson answer = NoJanusJson();
    if (session != 0) {
      JanusJson body(cJSON_CreateObject(), cJSON_Delete);
      cJSON_AddStringToObject(body.get(), "request", "info");
      cJSON_AddNumberToObject(body.get(), "id", kJanusMountpoint);
      answer = janus.Message(session, handle, body.get(), nullptr, &error);
    }
    const cJSON* data = cJSON_GetObjectItemCaseSensitive(
        cJSON_GetObjectItemCaseSensitive(answer.get(), "plugindata"), "data");
    const cJSON* viewers = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(data, "info"), "viewers");
    const bool ok = cJSON_IsNumber(viewers);
    if (!ok && answer) error = "the video server has no mountpoint " + std::to_string(kJanusMountpoint);
    if (!ok && session != 0) {
      janus.Destroy(session);  // a new one next time: this one may have expired
      session = 0;
    }
    if (ok != answers_.load(std::memory_order_relaxed) || (!ok && error != last_error)) {
      if (ok) std::fprintf(stderr, "vb-stream: the WebRTC server answers\n");
      else std::fprintf(stderr, "vb-stream: the WebRTC server: %s\n", error.c_str());
      last_error = ok ? "" : error;
    }
    browsers_.store(ok ? viewers->valueint : 0, std::memory_order_relaxed);
    answers_.store(ok, std::memory_order_relaxed);
    lock.lock();
    wake_.wait_for(lock, std::chrono::seconds(2), [this] { return stopping_; });
  }
  lock.unlock();
  if (session != 0) janus.Destroy(session);
}
