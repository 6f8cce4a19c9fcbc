#include "web_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "box_viewer.h"
#include "camera_choices.h"
#include "command_check.h"
#include "crew_routes.h"
#include "host_names.h"
#include "hud_mapping.h"
#include "mailbox_queue.h"
#include "param_rows.h"
#include "platform/connected_networks.h"
#include "report_passwords.h"
#include "settings_backup.h"
#include "state_json.h"
#include "static_files.h"
#include "stream_signalling.h"

namespace {

constexpr unsigned kConnectionLimit = 64;
// A browser opens up to six connections to a name, its event streams
// included; the page may be open under two names (the address and the box's
// name). Four addresses cannot fill the server.
constexpr unsigned kConnectionsPerAddress = 12;
constexpr unsigned kAnswerSeconds = 120;  // longer than any command waits for the box and its reports
constexpr size_t kConnectionMemory = 16 * 1024;  // request line and headers
constexpr size_t kThreadStack = 256 * 1024;
constexpr const char* kConfigRequest = "{\"cmd\":\"configrequest\"}";

// Per request: the body as it arrives.
struct Request {
  std::string body;
  size_t max_body = 0;
  bool too_long = false;
};

// Per event stream: the text not yet handed to libmicrohttpd, and the client
// address whose stream slot it holds.
struct EventStream {
  WebServer* server;
  in_addr_t address;
  std::chrono::milliseconds period;
  uint64_t report_sent = 0;
  std::string pending;
  size_t offset = 0;
  bool started = false;
};

struct Refusal {
  const char* line;
  std::atomic<int64_t> last_log_s{0};
};
Refusal g_outside{"vb-web: refused a client outside the box's networks\n"};
Refusal g_other_name{"vb-web: refused a request for a name that is not the box's\n"};
Refusal g_streams_taken{"vb-web: refused an event stream: no stream slot free\n"};

// At most one line a second however many peers knock.
void LogRefusal(Refusal& refusal) {
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::steady_clock::now().time_since_epoch()).count();
  int64_t last = refusal.last_log_s.load(std::memory_order_relaxed);
  if (now != last && refusal.last_log_s.compare_exchange_strong(last, now, std::memory_order_relaxed)) {
    std::fputs(refusal.line, stderr);
  }
}

ConnectionLimits::Connection* LimitsOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? static_cast<ConnectionLimits::Connection*>(info->socket_context) : nullptr;
}

in_addr_t ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr || info->client_addr->sa_family != AF_INET) return 0;
  return reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr.s_addr;
}

MHD_Result AcceptPolicy(void*, const sockaddr* address, socklen_t length) {
  if (address && length >= sizeof(sockaddr_in) && address->sa_family == AF_INET &&
      IsInConnectedNetwork(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr)) {
    return MHD_YES;
  }
  LogRefusal(g_outside);
  return MHD_NO;
}

void NotifyConnection(void* cls, MHD_Connection* connection, void** socket_context,
                      MHD_ConnectionNotificationCode code) {
  ConnectionLimits& limits = static_cast<WebServer*>(cls)->Limits();
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    *socket_context = info ? limits.Opened(info->connect_fd) : nullptr;
  } else {
    limits.Closed(static_cast<ConnectionLimits::Connection*>(*socket_context));
    *socket_context = nullptr;
  }
}

MHD_Result AccessHandler(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                         const char* upload_data, size_t* upload_data_size, void** context) {
  return static_cast<WebServer*>(cls)->HandleRequest(connection, url, method, upload_data, upload_data_size,
                                                     context) == MHD_YES
             ? MHD_YES
             : MHD_NO;
}

void RequestCompleted(void*, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
  delete static_cast<Request*>(*context);
  *context = nullptr;
  // A connection kept open waits for its next request, under the same deadline.
  ConnectionLimits::RequestEnded(LimitsOf(connection));
}

ssize_t ReadEvents(void* cls, uint64_t, char* buffer, size_t max) {
  auto* stream = static_cast<EventStream*>(cls);
  if (stream->offset >= stream->pending.size()) {
    stream->pending.clear();
    stream->offset = 0;
    if (!stream->started) {
      stream->started = true;
      stream->pending = "retry: 2000\n\n";  // the browser reconnects this soon after a break
    } else if (!stream->server->WaitNextEvent(stream->period)) {
      return MHD_CONTENT_READER_END_OF_STREAM;
    }
    stream->server->AppendEvents(&stream->report_sent, &stream->pending);
  }
  const size_t n = std::min(max, stream->pending.size() - stream->offset);
  std::memcpy(buffer, stream->pending.data() + stream->offset, n);
  stream->offset += n;
  return static_cast<ssize_t>(n);
}

void FreeEventStream(void* cls) {
  auto* stream = static_cast<EventStream*>(cls);
  stream->server->Limits().ReturnStream(stream->address);
  delete stream;
}

void AddCommonHeaders(MHD_Response* response) {
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "X-Frame-Options", "DENY");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  MHD_add_response_header(response, "Content-Security-Policy",
                          "default-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, MHD_Response* response) {
  if (!response) return MHD_NO;
  AddCommonHeaders(response);
  ConnectionLimits::RequestArrived(LimitsOf(connection));  // a refusal may go out before the request has arrived
  MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

// retry_after: also closes the connection, so a refused client frees it.
MHD_Result AnswerJson(MHD_Connection* connection, unsigned status, const std::string& json,
                      const char* retry_after = nullptr) {
  MHD_Response* response = MHD_create_response_from_buffer(json.size(), const_cast<char*>(json.data()),
                                                           MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", "application/json");
  MHD_add_response_header(response, "Cache-Control", "no-store");
  if (retry_after) {
    MHD_add_response_header(response, "Retry-After", retry_after);
    MHD_add_response_header(response, "Connection", "close");
  }
  return Queue(connection, status, response);
}

std::string ErrorJson(std::string_view error) {
  std::string json = "{\"ok\":false,\"error\":\"";
  for (char c : error) {
    if (c == '"' || c == '\\') json += '\\';
    json += c;
  }
  return json + "\"}";
}

MHD_Result AnswerError(MHD_Connection* connection, unsigned status, std::string_view error,
                       const char* retry_after = nullptr) {
  return AnswerJson(connection, status, ErrorJson(error), retry_after);
}

// A command the mailbox did not take.
MHD_Result AnswerNotTaken(MHD_Connection* connection, MailboxOutcome outcome) {
  switch (outcome) {
    case MailboxOutcome::kQueueFull:
      return AnswerError(connection, MHD_HTTP_SERVICE_UNAVAILABLE, MailboxOutcomeText(outcome), "1");
    case MailboxOutcome::kNotTaken:
    case MailboxOutcome::kExpired:
      return AnswerError(connection, MHD_HTTP_GATEWAY_TIMEOUT, MailboxOutcomeText(outcome));
    default:
      return AnswerError(connection, MHD_HTTP_SERVICE_UNAVAILABLE, MailboxOutcomeText(outcome));
  }
}

// The answer to a request for another site's name: the status alone.
MHD_Result AnswerMisdirected(MHD_Connection* connection) {
  MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Connection", "close");
  return Queue(connection, MHD_HTTP_MISDIRECTED_REQUEST, response);
}

MHD_Result AnswerNotAllowed(MHD_Connection* connection, const char* allow) {
  const std::string json = ErrorJson("this method is not served here");
  MHD_Response* response = MHD_create_response_from_buffer(json.size(), const_cast<char*>(json.data()),
                                                           MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", "application/json");
  MHD_add_response_header(response, "Allow", allow);
  return Queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, response);
}

const char* Header(MHD_Connection* connection, const char* name) {
  return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

bool IsJsonType(const char* type) {
  if (!type) return false;
  std::string_view t(type);
  const size_t semicolon = t.find(';');
  if (semicolon != std::string_view::npos) t = t.substr(0, semicolon);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  return t.size() == 16 && strncasecmp(t.data(), "application/json", 16) == 0;
}

// A browser names the page that sends a request: it must be this server's
// own page (same host and port), never a page of another site.
bool FromOwnPage(MHD_Connection* connection) {
  const char* site = Header(connection, "Sec-Fetch-Site");
  if (site && std::strcmp(site, "same-origin") != 0 && std::strcmp(site, "none") != 0) return false;
  const char* origin = Header(connection, "Origin");
  if (!origin) return true;  // not a browser, or an old one: the content type still has to be JSON
  const char* host = Header(connection, "Host");
  std::string_view o(origin);
  const size_t scheme = o.find("://");
  return host && scheme != std::string_view::npos && o.substr(scheme + 3) == host;
}

std::string_view QueryArgument(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
  return value ? value : "";
}

// The crew routes know no HTTP library: their request is copied out, their answer sent here.
int ServeCrewRoute(CrewRoutes* crew, MHD_Connection* connection, std::string_view path, std::string_view method,
                   const std::string& body, bool* served) {
  CrewRequest request;
  request.method = method;
  request.path = path;
  request.body = body;
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info && info->client_addr && info->client_addr->sa_family == AF_INET) {
    request.client = reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr.s_addr;
  }
  const char* session = MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, kSessionCookie);
  request.session = session ? session : "";
  request.since = QueryArgument(connection, "since");
  request.until = QueryArgument(connection, "until");
  CrewAnswer answer;
  *served = crew->Answer(request, &answer);
  if (!*served) return MHD_NO;
  MHD_Response* response = MHD_create_response_from_buffer(answer.body.size(), answer.body.data(),
                                                           MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", answer.type.c_str());
  MHD_add_response_header(response, "Cache-Control", "no-store");
  for (const auto& [name, value] : answer.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  return Queue(connection, answer.status, response);
}

}  // namespace

WebServer::WebServer(WebParts parts, WebTiming timing)
    : parts_(std::move(parts)), timing_(timing), limits_(timing.request_deadline) {}

WebServer::~WebServer() { Stop(); }

bool WebServer::Start(const sockaddr_in& address, std::string* error) {
  // A thread per connection: a slow or stalled client holds only its own
  // thread, and an event stream waits for its next event in its own. The idle
  // timeout (any byte read or sent counts) ends a silent client or one that
  // stops reading its stream; the deadline of ConnectionLimits one whose
  // request trickles in.
  const auto idle = std::chrono::duration_cast<std::chrono::seconds>(timing_.request_deadline).count();
  limits_.Start();
  daemon_ = MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL_INTERNAL_THREAD, 0, AcceptPolicy, nullptr, AccessHandler, this,
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&address), MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
      MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(std::max<int64_t>(idle, 1)),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_THREAD_STACK_SIZE, kThreadStack,
      MHD_OPTION_NOTIFY_COMPLETED, RequestCompleted, nullptr, MHD_OPTION_NOTIFY_CONNECTION, NotifyConnection, this,
      MHD_OPTION_END);
  if (!daemon_) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    *error = std::string("cannot listen on ") + text + ":" + std::to_string(ntohs(address.sin_port));
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : ntohs(address.sin_port);
  return true;
}

void WebServer::BeginStop() {
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
}

void WebServer::Stop() {
  BeginStop();
  if (daemon_) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  limits_.Stop();
}

bool WebServer::WaitNextEvent(std::chrono::milliseconds period) {
  std::unique_lock<std::mutex> lock(stop_mutex_);
  return !stop_.wait_for(lock, period, [&] { return stopping_.load(); });
}

std::string WebServer::StateJson() const {
  BoxStatus box;
  if (parts_.viewer) box = parts_.viewer->Status();
  const size_t waiting = parts_.queue ? parts_.queue->Waiting() : 0;
  HudState hud;
  const bool mapped = parts_.hud && parts_.hud->Snapshot(&hud);
  const StreamStatus stream = parts_.stream ? parts_.stream->Status() : StreamStatus{};
  return FormatStateJson(mapped ? &hud : nullptr, box, waiting, stream);
}

void WebServer::AppendEvents(uint64_t* report_sent, std::string* out) const {
  if (parts_.viewer) {
    const uint64_t number = parts_.viewer->ReportNumber();
    if (number != *report_sent) {
      *report_sent = number;
      *out += "event: config\ndata: " + parts_.viewer->Report() + "\n\n";
    }
  }
  *out += "event: state\ndata: " + StateJson() + "\n\n";
}

const WebServer::PostRouteEntry* WebServer::PostRoute(std::string_view path) {
  // Each takes a JSON body from the box's own page. Watching the live video
  // and unlocking the controls are no controls themselves.
  static constexpr PostRouteEntry kRoutes[] = {
      {"/api/command", &WebServer::HandleCommand, kMaxRequestBody, true},
      {"/api/settings-restore", &WebServer::HandleRestore, kMaxRestoreBody, true},
      {"/api/stream/", &WebServer::HandleStream, kMaxStreamRequestBody, false},
      {"/api/session", &WebServer::HandleCrewPost, kMaxRequestBody, false},
      {"/api/session/end", &WebServer::HandleCrewPost, kMaxRequestBody, true},
      {"/api/pin", &WebServer::HandleCrewPost, kMaxRequestBody, true},
  };
  for (const PostRouteEntry& route : kRoutes) {
    const bool prefix = route.path.back() == '/';
    if (prefix ? path.substr(0, route.path.size()) == route.path : route.path == path) return &route;
  }
  return nullptr;
}

int WebServer::HandleRequest(MHD_Connection* connection, const char* url, const char* method, const char* upload_data,
                             size_t* upload_data_size, void** context) {
  const std::string_view path(url ? url : "");
  const std::string_view verb(method ? method : "");
  const PostRouteEntry* post = verb == "POST" ? PostRoute(path) : nullptr;

  if (!*context) {
    // First call: the request line and headers. A refusal goes out before
    // any body is read; otherwise the answer waits for the request's end, so
    // the connection can stay open for the next request.
    if (!HostNamesTheBox(Header(connection, "Host"), parts_.host_names)) {
      LogRefusal(g_other_name);
      return AnswerMisdirected(connection);
    }
    // Whatever may change something (any method but GET and HEAD on any other
    // route), and the settings file with its passwords, needs the controls
    // open: no PIN, or a session unlocked with it.
    const bool control = post ? post->control
                              : (verb != "GET" && verb != "HEAD") || path == "/api/settings-file";
    const char* session = MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, kSessionCookie);
    if (control && parts_.crew && !parts_.crew->ControlsOpen(session ? session : "")) {
      return AnswerError(connection, MHD_HTTP_UNAUTHORIZED, "the controls are locked: enter the PIN");
    }
    if (post) {
      if (!FromOwnPage(connection)) {
        return AnswerError(connection, MHD_HTTP_FORBIDDEN, "commands are taken only from the box's own page");
      }
      if (!IsJsonType(Header(connection, "Content-Type"))) {
        return AnswerError(connection, MHD_HTTP_UNSUPPORTED_MEDIA_TYPE, "commands must be sent as application/json");
      }
      const char* declared = Header(connection, "Content-Length");
      if (declared && std::strtoull(declared, nullptr, 10) > post->max_body) {
        return AnswerError(connection, MHD_HTTP_CONTENT_TOO_LARGE, "the request is too long");
      }
    }
    *context = new Request{{}, post ? post->max_body : kMaxRequestBody};
    return MHD_YES;
  }

  auto* request = static_cast<Request*>(*context);
  if (*upload_data_size != 0) {
    if (request->body.size() + *upload_data_size > request->max_body) request->too_long = true;
    if (!request->too_long) request->body.append(upload_data, *upload_data_size);
    *upload_data_size = 0;
    return MHD_YES;
  }
  // All of it is here: however long the answer takes, the deadline is met.
  ConnectionLimits::RequestArrived(LimitsOf(connection));
  if (post) {
    if (request->too_long) return AnswerError(connection, MHD_HTTP_CONTENT_TOO_LARGE, "the request is too long");
    // The answer waits for the box (the mailbox, its reports, Janus): the
    // idle timeout must not end the connection meanwhile. The request
    // deadline still ends it once it then idles.
    MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, kAnswerSeconds);
    return (this->*post->handler)(connection, path, request->body);
  }
  if (parts_.crew) {
    bool served = false;
    const int result = ServeCrewRoute(parts_.crew, connection, path, verb, request->body, &served);
    if (served) return result;
  }
  return HandleRead(connection, path, verb);
}

int WebServer::HandleStream(MHD_Connection* connection, std::string_view path, const std::string& body) {
  if (!parts_.stream) return AnswerError(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "no video stream here");
  const StreamReply reply = parts_.stream->Handle(path, body);
  return AnswerJson(connection, reply.status, reply.json);
}

int WebServer::HandleCrewPost(MHD_Connection* connection, std::string_view path, const std::string& body) {
  bool served = false;
  const int result = parts_.crew ? ServeCrewRoute(parts_.crew, connection, path, "POST", body, &served) : MHD_NO;
  return served ? result : AnswerError(connection, MHD_HTTP_NOT_FOUND, "no such page");
}

int WebServer::HandleRead(MHD_Connection* connection, std::string_view path, std::string_view method) {
  const StaticFile* file = parts_.files ? parts_.files->Find(path) : nullptr;
  const bool api = path == "/events" || path == "/api/state" || path == "/api/limits" || path == "/api/config" ||
                   path == "/api/choices" || path == "/api/params" || path == "/api/settings-file";
  if (PostRoute(path)) return AnswerNotAllowed(connection, "POST");
  if (!api && !file) return AnswerError(connection, MHD_HTTP_NOT_FOUND, "no such page");
  if (method != "GET" && method != "HEAD") return AnswerNotAllowed(connection, "GET, HEAD");
  if (file) {
    MHD_Response* response = MHD_create_response_from_buffer(
        file->content.size(), const_cast<char*>(file->content.data()), MHD_RESPMEM_PERSISTENT);
    if (!response) return MHD_NO;
    MHD_add_response_header(response, "Content-Type", file->type);
    MHD_add_response_header(response, "Cache-Control", "no-cache");
    return Queue(connection, MHD_HTTP_OK, response);
  }
  if (path == "/api/state") return AnswerJson(connection, MHD_HTTP_OK, StateJson());
  if (path == "/api/limits") return AnswerJson(connection, MHD_HTTP_OK, SettingsTextsJson());
  if (path == "/api/choices") return AnswerJson(connection, MHD_HTTP_OK, CameraChoicesJson());
  if (path == "/api/params") return AnswerJson(connection, MHD_HTTP_OK, ParamRowsJson());
  // It holds the Wi-Fi passwords: a control, which the control PIN guards once set.
  if (path == "/api/settings-file") return HandleSettingsFile(connection);
  if (path == "/api/config") {
    const std::string report = parts_.viewer ? parts_.viewer->Report() : std::string();
    if (report.empty()) return AnswerError(connection, MHD_HTTP_NOT_FOUND, "the box has sent no report yet");
    return AnswerJson(connection, MHD_HTTP_OK, report);
  }
  return HandleEvents(connection);
}

int WebServer::HandleEvents(MHD_Connection* connection) {
  const in_addr_t address = ClientAddress(connection);
  if (!limits_.TakeStream(address)) {
    LogRefusal(g_streams_taken);
    return AnswerError(connection, MHD_HTTP_TOO_MANY_REQUESTS, "too many event streams are open", "5");
  }
  auto* stream = new EventStream{this, address, timing_.state_period, 0, {}, 0, false};
  MHD_Response* response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, ReadEvents, stream, FreeEventStream);
  if (!response) {
    FreeEventStream(stream);
    return MHD_NO;
  }
  MHD_add_response_header(response, "Content-Type", "text/event-stream");
  MHD_add_response_header(response, "Cache-Control", "no-store");
  return Queue(connection, MHD_HTTP_OK, response);
}

bool WebServer::FetchReport(int tries, std::string* report) {
  for (int attempt = 0; attempt < tries && !stopping_; ++attempt) {
    const uint64_t before = parts_.viewer->ReportNumber();
    if (parts_.queue->Send(kConfigRequest) != MailboxOutcome::kTaken) return false;
    if (parts_.viewer->WaitForReport(before, timing_.report_wait, report)) return true;
  }
  return false;
}

int WebServer::HandleCommand(MHD_Connection* connection, std::string_view, const std::string& body) {
  CheckedCommand checked = CheckCommand(body);
  if (checked.status != 200) return AnswerError(connection, static_cast<unsigned>(checked.status), checked.error);
  if (!parts_.queue) return AnswerError(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "no mailbox");
  if (checked.keeps_password) {
    // The box's current passwords go back in, from a report asked for now.
    std::string fresh;
    if (!parts_.viewer || !FetchReport(timing_.report_tries, &fresh) ||
        !KeepPasswords(&checked.text, parts_.viewer->Passwords())) {
      return AnswerError(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                         "the box did not send its settings, so its passwords could not be kept; nothing was saved");
    }
    if (checked.text.size() > kMaxCommandText) {
      return AnswerError(connection, MHD_HTTP_CONTENT_TOO_LARGE, "the command is longer than the box's mailbox holds");
    }
  }

  std::string report;
  MailboxOutcome outcome;
  bool have_report = false;
  if (checked.report && parts_.viewer) {
    // The request itself asks for the report: it is its own first try.
    const uint64_t before = parts_.viewer->ReportNumber();
    outcome = parts_.queue->Send(checked.text);
    if (outcome == MailboxOutcome::kTaken) {
      have_report = parts_.viewer->WaitForReport(before, timing_.report_wait, &report) ||
                    FetchReport(timing_.report_tries - 1, &report);
    }
  } else {
    outcome = parts_.queue->Send(checked.text);
    if (outcome == MailboxOutcome::kTaken && checked.settings && parts_.viewer) {
      have_report = FetchReport(timing_.report_tries, &report);
    }
  }

  if (outcome != MailboxOutcome::kTaken) return AnswerNotTaken(connection, outcome);
  if (!(checked.settings || checked.report)) return AnswerJson(connection, MHD_HTTP_OK, "{\"ok\":true}");
  // The box took the command; its report may still have been lost on the way.
  return AnswerJson(connection, MHD_HTTP_OK,
                    std::string("{\"ok\":true,\"report\":") + (have_report ? report : "null") + "}");
}

int WebServer::HandleSettingsFile(MHD_Connection* connection) {
  if (!parts_.backup) return AnswerError(connection, MHD_HTTP_NOT_FOUND, "no settings file is served here");
  const BackupAnswer answer = parts_.backup->Download();
  if (!answer.file) return AnswerJson(connection, answer.status, answer.body);
  MHD_Response* response = MHD_create_response_from_buffer(answer.body.size(), const_cast<char*>(answer.body.data()),
                                                           MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", "text/plain; charset=utf-8");
  MHD_add_response_header(response, "Content-Disposition",
                          (std::string("attachment; filename=\"") + kBackupFileName + "\"").c_str());
  MHD_add_response_header(response, "Cache-Control", "no-store");
  return Queue(connection, MHD_HTTP_OK, response);
}

int WebServer::HandleRestore(MHD_Connection* connection, std::string_view, const std::string& body) {
  if (!parts_.backup) return AnswerError(connection, MHD_HTTP_NOT_FOUND, "no settings file is restored here");
  const BackupAnswer answer =
      parts_.backup->Restore(body, [this](std::chrono::milliseconds pause) { return WaitNextEvent(pause); });
  if (answer.outcome != MailboxOutcome::kTaken) return AnswerNotTaken(connection, answer.outcome);
  return AnswerJson(connection, answer.status, answer.body);
}
