#include "control_sessions.h"

#include <sys/random.h>

#include <chrono>
#include <cstdio>

namespace {

constexpr int64_t kMinuteMs = 60 * 1000;
constexpr int64_t kLongestWaitMs = 5 * 60 * 1000;
constexpr size_t kTokenBytes = 32;

bool SameToken(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

int SecondsUntil(int64_t then_ms, int64_t now_ms) { return static_cast<int>((then_ms - now_ms + 999) / 1000); }

}  // namespace

int64_t SessionClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ControlSessions::Address& ControlSessions::Slot(uint32_t address, int64_t now_ms) {
  Address* oldest = nullptr;
  for (Address& a : addresses_) {
    if (a.used && a.address == address) {
      a.seen_ms = now_ms;
      return a;
    }
    // A free row, else the one least recently seen, makes room.
    if (oldest == nullptr || (oldest->used && (!a.used || a.seen_ms < oldest->seen_ms))) oldest = &a;
  }
  *oldest = Address{};
  oldest->used = true;
  oldest->address = address;
  oldest->seen_ms = now_ms;
  return *oldest;
}

bool ControlSessions::MayTry(uint32_t address, int64_t now_ms, int* wait_s) {
  std::lock_guard<std::mutex> lock(mutex_);
  Address& a = Slot(address, now_ms);
  if (now_ms - a.minute_start_ms >= kMinuteMs) {
    a.minute_start_ms = now_ms;
    a.minute_tries = 0;
  }
  if (now_ms - all_minute_start_ms_ >= kMinuteMs) {
    all_minute_start_ms_ = now_ms;
    all_minute_tries_ = 0;
  }
  int64_t until = 0;
  if (now_ms < a.next_try_ms) until = a.next_try_ms;
  if (a.minute_tries >= kTriesPerMinute && a.minute_start_ms + kMinuteMs > until) until = a.minute_start_ms + kMinuteMs;
  if (all_minute_tries_ >= kAllTriesPerMinute && all_minute_start_ms_ + kMinuteMs > until) {
    until = all_minute_start_ms_ + kMinuteMs;
  }
  if (until > now_ms) {
    *wait_s = SecondsUntil(until, now_ms);
    return false;
  }
  ++a.minute_tries;
  ++all_minute_tries_;
  return true;
}

void ControlSessions::TriedWrong(uint32_t address, int64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  Address& a = Slot(address, now_ms);
  if (a.failures < 30) ++a.failures;
  int64_t wait = 1000;
  for (int i = 1; i < a.failures && wait < kLongestWaitMs; ++i) wait *= 2;
  a.next_try_ms = now_ms + (wait < kLongestWaitMs ? wait : kLongestWaitMs);
}

void ControlSessions::TriedRight(uint32_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Address& a : addresses_) {
    if (a.used && a.address == address) {
      a.failures = 0;
      a.next_try_ms = 0;
    }
  }
}

std::string ControlSessions::Open(int64_t now_ms) {
  unsigned char bytes[kTokenBytes];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return {};
  std::string token;
  char hex[3];
  for (unsigned char b : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    token += hex;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  // The least recently used session makes room.
  Session* slot = &sessions_[0];
  for (Session& s : sessions_) {
    if (s.token.empty()) {
      slot = &s;
      break;
    }
    if (s.used_ms < slot->used_ms) slot = &s;
  }
  slot->token = token;
  slot->used_ms = now_ms;
  return token;
}

bool ControlSessions::Valid(std::string_view token, int64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Session& s : sessions_) {
    if (s.token.empty() || !SameToken(s.token, token)) continue;
    if (now_ms - s.used_ms > kSessionIdleMs) {
      s = Session{};
      return false;
    }
    s.used_ms = now_ms;
    return true;
  }
  return false;
}

void ControlSessions::Close(std::string_view token) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Session& s : sessions_) {
    if (SameToken(s.token, token)) s = Session{};
  }
}

void ControlSessions::CloseAllBut(std::string_view keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Session& s : sessions_) {
    if (!SameToken(s.token, keep)) s = Session{};
  }
}
