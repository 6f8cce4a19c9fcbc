// The page's routes for the crew, beside the live state and the commands:
// the box's health (GET /api/health, and GET /metrics as Prometheus text),
// who did what (GET /api/events: the last hundred entries; GET
// /api/events.jsonl?since=S&until=U: a time range, in seconds of the wall
// clock, as JSON lines to download), and the control PIN (GET /api/session,
// POST /api/session to unlock, POST /api/session/end to lock again, POST
// /api/pin to change or clear it). They know nothing of HTTP's library: the
// server hands each request over as a CrewRequest and sends the CrewAnswer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "control_pin.h"
#include "control_sessions.h"

struct CrewRequest {
  std::string_view method;
  std::string_view path;
  std::string_view body;
  uint32_t client = 0;           // IPv4 address, network byte order
  std::string_view session;      // the session cookie's value
  std::string_view since;        // query arguments of the download
  std::string_view until;
};

struct CrewAnswer {
  unsigned status = 200;
  std::string type = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

class CrewRoutes {
 public:
  CrewRoutes(std::string pin_file, std::string health_record)
      : pin_(std::move(pin_file)), health_record_(std::move(health_record)) {}

  // Whether the controls are open to a request with this session cookie:
  // no PIN is set, or the session is open.
  bool ControlsOpen(std::string_view session);
  // POST routes served here (they take JSON from the page's own origin, as commands do).
  static bool IsPostRoute(std::string_view path);
  // True when path is one of these routes; answer then holds the reply.
  bool Answer(const CrewRequest& request, CrewAnswer* answer);

 private:
  void Health(CrewAnswer* answer) const;
  void Metrics(CrewAnswer* answer) const;
  void Events(CrewAnswer* answer) const;
  void Download(const CrewRequest& request, CrewAnswer* answer) const;
  void SessionState(const CrewRequest& request, CrewAnswer* answer);
  void Unlock(const CrewRequest& request, CrewAnswer* answer);
  void Lock(const CrewRequest& request, CrewAnswer* answer);
  void ChangePin(const CrewRequest& request, CrewAnswer* answer);

  ControlPin pin_;
  ControlSessions sessions_;
  std::string health_record_;
};
