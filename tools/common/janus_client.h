// A client of Janus's plain HTTP API on loopback: JSON requests and the
// long poll for a session's events. vb-web carries a page's WebRTC signalling
// through it; vb-stream asks it how many browsers watch.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <memory>
#include <string>

using JanusJson = std::unique_ptr<cJSON, void (*)(cJSON*)>;

inline JanusJson NoJanusJson() { return JanusJson(nullptr, cJSON_Delete); }

// The streaming plugin's mountpoint that carries the box's video (service/janus).
constexpr int kJanusMountpoint = 1;
constexpr const char* kJanusUrl = "http://127.0.0.1:8289/janus";

class JanusClient {
 public:
  explicit JanusClient(std::string base_url);
  ~JanusClient();
  JanusClient(const JanusClient&) = delete;
  JanusClient& operator=(const JanusClient&) = delete;

  // One request to base_url + path: a POST of the JSON object body (a
  // "transaction" member is added), or a GET without one. The answer's
  // JSON, or null with the reason in *error (Janus's own "error" answers
  // included).
  JanusJson Request(const std::string& path, cJSON* body, long timeout_ms, std::string* error);

  // A new session with the streaming plugin attached; false with a reason.
  bool Open(uint64_t* session, uint64_t* handle, std::string* error);
  // A message to the plugin (body, and jsep when not null), answered
  // synchronously ("success") or acknowledged ("ack").
  JanusJson Message(uint64_t session, uint64_t handle, cJSON* body, cJSON* jsep, std::string* error);
  // The session's next event, waiting up to timeout_ms; null without one.
  JanusJson NextEvent(uint64_t session, long timeout_ms, std::string* error);
  bool KeepAlive(uint64_t session, std::string* error);
  void Destroy(uint64_t session);
  // Whether the last request failed with Janus's own "error" answer (an
  // unknown session, say) rather than with no answer at all.
  bool Refused() const { return refused_; }

 private:
  const std::string base_url_;
  void* curl_;
  uint64_t transaction_ = 0;
  bool refused_ = false;
};

// The "data" member's "id" of a create or attach answer; 0 when missing.
uint64_t JanusId(const cJSON* answer);
// A numeric id as the page carries it (decimal text); false when malformed.
bool ParseJanusId(const char* text, uint64_t* id);
