// Who may use the page's controls while a PIN is set: sessions opened by the
// PIN (a random token in an HttpOnly, SameSite=Strict cookie, held in memory
// only), and the brakes on guessing it: after each wrong PIN an address
// waits twice as long as before its next try (1 s, 2 s, 4 s ... 5 min), and
// no address tries more than kTriesPerMinute times a minute, nor all
// addresses together more than kAllTriesPerMinute.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

constexpr const char* kSessionCookie = "vb_session";
constexpr int kTriesPerMinute = 5;
constexpr int kAllTriesPerMinute = 30;
constexpr int kMaxSessions = 32;
constexpr int64_t kSessionIdleMs = 12 * 3600 * 1000LL;

class ControlSessions {
 public:
  // Whether address may try a PIN at now_ms; when not, the seconds to wait.
  bool MayTry(uint32_t address, int64_t now_ms, int* wait_s);
  // The outcome of a try MayTry allowed.
  void TriedWrong(uint32_t address, int64_t now_ms);
  void TriedRight(uint32_t address);

  // A new session's token (64 hex digits from getrandom); empty when the
  // kernel gave no random bytes.
  std::string Open(int64_t now_ms);
  // Whether token names an open session; using it keeps it open.
  bool Valid(std::string_view token, int64_t now_ms);
  void Close(std::string_view token);
  // Every session but keep (after the PIN changed).
  void CloseAllBut(std::string_view keep);

 private:
  struct Session {
    std::string token;
    int64_t used_ms = 0;
  };
  // A minute of tries starts with the first try after the last minute ended.
  static constexpr int64_t kNoMinute = INT64_MIN / 2;
  struct Address {
    bool used = false;
    uint32_t address = 0;
    int failures = 0;           // wrong PINs in a row
    int64_t next_try_ms = 0;    // no try before
    int64_t minute_start_ms = kNoMinute;
    int minute_tries = 0;
    int64_t seen_ms = 0;
  };
  static constexpr int kAddresses = 64;

  Address& Slot(uint32_t address, int64_t now_ms);

  std::mutex mutex_;
  Session sessions_[kMaxSessions];
  Address addresses_[kAddresses];
  int64_t all_minute_start_ms_ = kNoMinute;
  int all_minute_tries_ = 0;
};

// The current time for the limits: CLOCK_MONOTONIC milliseconds.
int64_t SessionClockMs();
