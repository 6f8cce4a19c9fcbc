// Small pieces the stand-in tools share: the stop flag set by Ctrl-C, a
// monotonic clock in seconds, option number parsing and resolving the box.
#pragma once

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

inline volatile sig_atomic_t g_stop = 0;
inline void OnSignal(int) { g_stop = 1; }

inline double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// "TOOL: bad option --x VALUE" on standard error, the value when there is one.
inline void ReportBadOption(const char* tool, const char* option, const char* value) {
  std::fprintf(stderr, "%s: bad option %s%s%s\n", tool, option, value ? " " : "", value ? value : "");
}

// The whole text is a number within lo ... hi.
inline bool ParseNumber(const char* text, double lo, double hi, double* out) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

// HOST or HOST:PORT; the port is left as it was when none is given.
inline bool ParseHostPort(const char* text, char* host, size_t host_size, uint16_t* port) {
  const char* colon = std::strrchr(text, ':');
  size_t host_len = colon ? static_cast<size_t>(colon - text) : std::strlen(text);
  if (host_len == 0 || host_len >= host_size) return false;
  double number = 0;
  if (colon && !ParseNumber(colon + 1, 1, 65535, &number)) return false;
  std::memcpy(host, text, host_len);
  host[host_len] = '\0';
  if (colon) *port = static_cast<uint16_t>(number);
  return true;
}

inline bool ResolveHost(const char* host, uint16_t port, sockaddr_in* out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return false;
  std::memcpy(out, res->ai_addr, sizeof *out);
  freeaddrinfo(res);
  out->sin_port = htons(port);
  return true;
}
