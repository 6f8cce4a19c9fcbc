// What the video streamer (vb-stream) tells the box's other tools about the
// live stream: a small text file it replaces once a second, read by vb-web
// (the page) and vb-hud. Not part of "/hud_mem", whose layout other programs
// rely on. One line per value, "key=value", so a shell reads it too:
//
//   updated_ms=1234567    CLOCK_MONOTONIC milliseconds of the write
//   registered=1          the daemon acknowledged vb-stream as a viewer
//   pictures=30           pictures sent in the last second
//   janus=1               the WebRTC server answered within the last few seconds
//   browsers=2            browsers watching through it
#pragma once

#include <cstdint>
#include <string>

constexpr const char* kStreamStatusPath = "/run/vb-stream/status";
// A status older than this is a streamer that stopped or hangs.
constexpr uint32_t kStreamStatusFreshMs = 3000;

struct StreamStatus {
  bool fresh = false;  // read back: the file is there and was written recently
  bool registered = false;
  int pictures = 0;
  bool janus = false;
  int browsers = 0;
};

// Whether the page and vb-hud call the stream running: a fresh status, the
// WebRTC server answering and pictures flowing.
inline bool StreamRunning(const StreamStatus& s) { return s.fresh && s.janus && s.pictures > 0; }

std::string FormatStreamStatus(const StreamStatus& status, uint32_t now_ms);
// Missing keys keep their defaults; fresh is set from updated_ms against now_ms.
StreamStatus ParseStreamStatus(const std::string& text, uint32_t now_ms);

// Writes through a temporary file and a rename, so a reader never sees half.
bool WriteStreamStatus(const std::string& path, const StreamStatus& status, std::string* error);
// Not fresh when the file is missing, unreadable or stale.
StreamStatus ReadStreamStatus(const std::string& path);
