#include "crew_routes.h"

#include <arpa/inet.h>
#include <cjson/cJSON.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "event_log.h"
#include "health_metrics.h"
#include "platform/event_journal.h"
#include "records/health_json.h"
#include "records/health_record.h"

namespace {

std::string CrewErrorJson(const std::string& error) {
  cJSON* o = cJSON_CreateObject();
  cJSON_AddBoolToObject(o, "ok", false);
  cJSON_AddStringToObject(o, "error", error.c_str());
  char* printed = cJSON_PrintUnformatted(o);
  std::string out = printed ? printed : "{\"ok\":false}";
  cJSON_free(printed);
  cJSON_Delete(o);
  return out;
}

void Fail(CrewAnswer* answer, unsigned status, const std::string& error) {
  answer->status = status;
  answer->type = "application/json";
  answer->body = CrewErrorJson(error);
}

void Ok(CrewAnswer* answer, const std::string& json = "{\"ok\":true}") {
  answer->status = 200;
  answer->type = "application/json";
  answer->body = json;
}

std::string SessionCookie(const std::string& token) {
  // No Max-Age: the browser forgets it when it closes; Path=/ for every route.
  return std::string(kSessionCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string ClearedCookie() { return std::string(kSessionCookie) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0"; }

std::string WebSource(uint32_t client) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr address{client};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return std::string("web ") + text;
}

// A string member of the JSON object body; false when the body is no object
// or the member is there but no string.
bool StringMember(const cJSON* body, const char* name, std::string* value) {
  if (!cJSON_IsObject(body)) return false;
  const cJSON* member = cJSON_GetObjectItemCaseSensitive(body, name);
  if (member == nullptr) {
    value->clear();
    return true;
  }
  if (!cJSON_IsString(member)) return false;
  *value = member->valuestring;
  return true;
}

// Seconds of the wall clock as given in a query, in microseconds.
bool ParseSeconds(std::string_view text, uint64_t fallback, uint64_t* usec) {
  if (text.empty()) {
    *usec = fallback;
    return true;
  }
  const std::string copy(text);
  errno = 0;
  char* end = nullptr;
  const unsigned long long seconds = std::strtoull(copy.c_str(), &end, 10);
  if (errno != 0 || end == copy.c_str() || *end != '\0' || copy[0] == '-' || seconds > 1ull << 40) return false;
  *usec = seconds * 1000000ull;
  return true;
}

uint64_t WallClockUs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

bool CrewRoutes::ControlsOpen(std::string_view session) {
  return !pin_.IsSet() || sessions_.Valid(session, SessionClockMs());
}

bool CrewRoutes::IsPostRoute(std::string_view path) {
  return path == "/api/session" || path == "/api/session/end" || path == "/api/pin";
}

bool CrewRoutes::Answer(const CrewRequest& r, CrewAnswer* answer) {
  const bool post_route = IsPostRoute(r.path);
  const bool get_route = r.path == "/api/health" || r.path == "/metrics" || r.path == "/api/events" ||
                         r.path == "/api/events.jsonl" || r.path == "/api/session";
  if (!post_route && !get_route) return false;
  const bool get = r.method == "GET" || r.method == "HEAD";
  if (get && get_route) {
    if (r.path == "/api/health") Health(answer);
    if (r.path == "/metrics") Metrics(answer);
    if (r.path == "/api/events") Events(answer);
    if (r.path == "/api/events.jsonl") Download(r, answer);
    if (r.path == "/api/session") SessionState(r, answer);
  } else if (r.method == "POST" && post_route) {
    if (r.path == "/api/session") Unlock(r, answer);
    if (r.path == "/api/session/end") Lock(r, answer);
    if (r.path == "/api/pin") ChangePin(r, answer);
  } else {
    Fail(answer, 405, "this method is not served here");
    answer->headers.emplace_back("Allow", post_route && get_route ? "GET, HEAD, POST" : post_route ? "POST" : "GET, HEAD");
  }
  return true;
}

void CrewRoutes::Health(CrewAnswer* answer) const {
  HealthRecord health{};
  std::string error;
  if (!ReadHealthRecord(health_record_.c_str(), &health, &error)) return Fail(answer, 503, error);
  Ok(answer, HealthJson(health, HealthClockMs()));
}

void CrewRoutes::Metrics(CrewAnswer* answer) const {
  HealthRecord health{};
  std::string error;
  const bool read = ReadHealthRecord(health_record_.c_str(), &health, &error);
  answer->status = 200;
  answer->type = "text/plain; version=0.0.4; charset=utf-8";
  answer->body = HealthMetrics(read ? &health : nullptr, HealthClockMs());
}

void CrewRoutes::Events(CrewAnswer* answer) const {
  std::string json, error;
  if (!RecentEventsJson(kRecentEvents, &json, &error)) return Fail(answer, 503, error);
  Ok(answer, json);
}

void CrewRoutes::Download(const CrewRequest& r, CrewAnswer* answer) const {
  uint64_t since = 0, until = 0;
  if (!ParseSeconds(r.since, 0, &since) || !ParseSeconds(r.until, WallClockUs(), &until) || since > until) {
    return Fail(answer, 400, "since and until are seconds since 1970, since not after until");
  }
  // "until" names a whole second: every entry within it is in the range.
  if (!r.until.empty()) until += 999999;
  std::string lines, error;
  if (!EventLines(since, until, kMostDownloadedEvents, &lines, &error)) return Fail(answer, 503, error);
  answer->status = 200;
  answer->type = "application/x-ndjson; charset=utf-8";
  answer->body = std::move(lines);
  answer->headers.emplace_back("Content-Disposition", "attachment; filename=\"vantagebridge-events.jsonl\"");
}

void CrewRoutes::SessionState(const CrewRequest& r, CrewAnswer* answer) {
  const bool set = pin_.IsSet();
  const bool open = !set || sessions_.Valid(r.session, SessionClockMs());
  Ok(answer, std::string("{\"pin_set\":") + (set ? "true" : "false") + ",\"unlocked\":" + (open ? "true" : "false") +
                 "}");
}

void CrewRoutes::Unlock(const CrewRequest& r, CrewAnswer* answer) {
  if (!pin_.IsSet()) return Ok(answer, "{\"ok\":true,\"pin_set\":false}");
  cJSON* body = cJSON_ParseWithLength(r.body.data(), r.body.size());
  std::string pin;
  const bool readable = StringMember(body, "pin", &pin);
  cJSON_Delete(body);
  if (!readable || pin.empty()) return Fail(answer, 400, "send {\"pin\":\"...\"}");
  const int64_t now = SessionClockMs();
  int wait_s = 0;
  const std::string source = WebSource(r.client);
  if (!sessions_.MayTry(r.client, now, &wait_s)) {
    NoteEvent(JournalEvent::kAccess, source.c_str(), "PIN try refused: too many wrong PINs");
    Fail(answer, 429, "too many wrong PINs: try again in " + std::to_string(wait_s) + " s");
    answer->headers.emplace_back("Retry-After", std::to_string(wait_s));
    return;
  }
  if (!pin_.Matches(pin)) {
    sessions_.TriedWrong(r.client, SessionClockMs());
    NoteEvent(JournalEvent::kAccess, source.c_str(), "wrong PIN");
    return Fail(answer, 403, "wrong PIN");
  }
  sessions_.TriedRight(r.client);
  const std::string token = sessions_.Open(SessionClockMs());
  if (token.empty()) return Fail(answer, 503, "no random numbers for a session");
  NoteEvent(JournalEvent::kAccess, source.c_str(), "controls unlocked with the PIN");
  Ok(answer, "{\"ok\":true,\"pin_set\":true,\"unlocked\":true}");
  answer->headers.emplace_back("Set-Cookie", SessionCookie(token));
}

void CrewRoutes::Lock(const CrewRequest& r, CrewAnswer* answer) {
  sessions_.Close(r.session);
  Ok(answer);
  answer->headers.emplace_back("Set-Cookie", ClearedCookie());
}

void CrewRoutes::ChangePin(const CrewRequest& r, CrewAnswer* answer) {
  // The server let this request through only with an open session.
  if (!pin_.IsSet()) return Fail(answer, 403, "no PIN is set: set the first one on the box (vb-web --set-pin)");
  cJSON* body = cJSON_ParseWithLength(r.body.data(), r.body.size());
  std::string current, pin;
  const bool readable = StringMember(body, "current", &current) && StringMember(body, "pin", &pin);
  cJSON_Delete(body);
  if (!readable || current.empty()) return Fail(answer, 400, "send {\"current\":\"...\",\"pin\":\"...\"}");
  std::string error;
  if (!pin.empty() && !PinTextUsable(pin, &error)) return Fail(answer, 400, error);
  int wait_s = 0;
  if (!sessions_.MayTry(r.client, SessionClockMs(), &wait_s)) {
    Fail(answer, 429, "too many wrong PINs: try again in " + std::to_string(wait_s) + " s");
    answer->headers.emplace_back("Retry-After", std::to_string(wait_s));
    return;
  }
  const std::string source = WebSource(r.client);
  if (!pin_.Matches(current)) {
    sessions_.TriedWrong(r.client, SessionClockMs());
    NoteEvent(JournalEvent::kAccess, source.c_str(), "wrong PIN");
    return Fail(answer, 403, "wrong PIN");
  }
  sessions_.TriedRight(r.client);
  if (!pin_.Store(pin, &error)) return Fail(answer, 500, error);
  // Whoever held the old PIN must unlock with the new one.
  sessions_.CloseAllBut(r.session);
  NoteEvent(JournalEvent::kAccess, source.c_str(), pin.empty() ? "PIN removed" : "PIN changed");
  Ok(answer);
}
