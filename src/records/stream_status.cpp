#include "records/stream_status.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"

std::string FormatStreamStatus(const StreamStatus& status, uint32_t now_ms) {
  char text[160];
  std::snprintf(text, sizeof text, "updated_ms=%u\nregistered=%d\npictures=%d\njanus=%d\nbrowsers=%d\n", now_ms,
                status.registered ? 1 : 0, status.pictures, status.janus ? 1 : 0, status.browsers);
  return text;
}

StreamStatus ParseStreamStatus(const std::string& text, uint32_t now_ms) {
  StreamStatus s;
  bool stamped = false;
  uint32_t updated = 0;
  size_t line_start = 0;
  while (line_start < text.size()) {
    size_t line_end = text.find('\n', line_start);
    if (line_end == std::string::npos) line_end = text.size();
    const std::string line = text.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    char* end = nullptr;
    const long long value = std::strtoll(line.c_str() + eq + 1, &end, 10);
    if (end == line.c_str() + eq + 1 || *end != '\0' || value < 0 || value > UINT32_MAX) continue;
    if (key == "updated_ms") {
      updated = static_cast<uint32_t>(value);
      stamped = true;
    } else if (key == "registered") {
      s.registered = value != 0;
    } else if (key == "pictures") {
      s.pictures = static_cast<int>(value > 100000 ? 100000 : value);
    } else if (key == "janus") {
      s.janus = value != 0;
    } else if (key == "browsers") {
      s.browsers = static_cast<int>(value > 100000 ? 100000 : value);
    }
  }
  // The clock wraps in 32 bits: the age is the wrapped difference.
  s.fresh = stamped && now_ms - updated < kStreamStatusFreshMs;
  return s;
}

bool WriteStreamStatus(const std::string& path, const StreamStatus& status, std::string* error) {
  const std::string text = FormatStreamStatus(status, MillisecondClock());
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) return true;
  *error = path + ": " + std::strerror(errno);
  unlink(temporary.c_str());
  return false;
}

StreamStatus ReadStreamStatus(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  char buffer[512];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  close(fd);
  if (n <= 0) return {};
  return ParseStreamStatus(std::string(buffer, static_cast<size_t>(n)), MillisecondClock());
}
