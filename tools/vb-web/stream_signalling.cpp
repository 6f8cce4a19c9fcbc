#include "stream_signalling.h"

#include <chrono>
#include <cstring>

#include "../common/janus_client.h"

namespace {

constexpr std::string_view kPrefix = "/api/stream/";
// Janus makes its offer within milliseconds; this bounds a stuck one.
constexpr auto kOfferWait = std::chrono::seconds(5);

StreamReply RefuseStream(unsigned status, const std::string& error) {
  JanusJson json(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddFalseToObject(json.get(), "ok");
  cJSON_AddStringToObject(json.get(), "error", error.c_str());
  char* text = cJSON_PrintUnformatted(json.get());
  StreamReply reply{status, text ? text : "{\"ok\":false}"};
  cJSON_free(text);
  return reply;
}

StreamReply StreamOk(cJSON* json) {
  cJSON_AddTrueToObject(json, "ok");
  char* text = cJSON_PrintUnformatted(json);
  StreamReply reply{200, text ? text : "{\"ok\":true}"};
  cJSON_free(text);
  return reply;
}

const char* StringMember(const cJSON* object, const char* key) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, key);
  return cJSON_IsString(item) ? item->valuestring : nullptr;
}

// The streaming plugin's answer inside an event or a synchronous reply.
const cJSON* PluginData(const cJSON* message) {
  return cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(message, "plugindata"), "data");
}

std::string PluginError(const cJSON* message) {
  const char* error = StringMember(PluginData(message), "error");
  return error ? error : "";
}

}  // namespace

StreamSignalling::StreamSignalling(std::string janus_url, std::string status_path)
    : janus_url_(std::move(janus_url)), status_path_(std::move(status_path)) {}

StreamReply StreamSignalling::Watch() const {
  JanusClient janus(janus_url_);
  uint64_t session = 0, handle = 0;
  std::string error;
  if (!janus.Open(&session, &handle, &error)) return RefuseStream(503, error);
  JanusJson body(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(body.get(), "request", "watch");
  cJSON_AddNumberToObject(body.get(), "id", kJanusMountpoint);
  // No playout delay: the browser shows each picture once decoded, not later
  // to smooth the pace.
  cJSON_AddNumberToObject(body.get(), "min_delay", 0);
  cJSON_AddNumberToObject(body.get(), "max_delay", 0);
  JanusJson acked = janus.Message(session, handle, body.get(), nullptr, &error);
  const auto deadline = std::chrono::steady_clock::now() + kOfferWait;
  JanusJson offer = NoJanusJson();
  while (acked && !offer && error.empty() && std::chrono::steady_clock::now() < deadline) {
    JanusJson event = janus.NextEvent(session, 6000, &error);
    const char* verb = StringMember(event.get(), "janus");
    if (!verb) break;
    if (!PluginError(event.get()).empty()) {
      error = "the video server: " + PluginError(event.get());
    } else if (std::strcmp(verb, "hangup") == 0) {
      const char* reason = StringMember(event.get(), "reason");
      error = std::string("the video server hung up: ") + (reason ? reason : "");
    } else {
      const cJSON* jsep = cJSON_GetObjectItemCaseSensitive(event.get(), "jsep");
      const char* type = StringMember(jsep, "type");
      if (type && std::strcmp(type, "offer") == 0 && StringMember(jsep, "sdp")) offer = std::move(event);
    }
  }
  if (!offer) {
    janus.Destroy(session);
    return RefuseStream(503, error.empty() ? "the video server made no offer" : error);
  }
  JanusJson reply(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(reply.get(), "session", std::to_string(session).c_str());
  cJSON_AddStringToObject(reply.get(), "handle", std::to_string(handle).c_str());
  cJSON* jsep = cJSON_AddObjectToObject(reply.get(), "offer");
  cJSON_AddStringToObject(jsep, "type", "offer");
  cJSON_AddStringToObject(jsep, "sdp", StringMember(cJSON_GetObjectItemCaseSensitive(offer.get(), "jsep"), "sdp"));
  return StreamOk(reply.get());
}

StreamReply StreamSignalling::Handle(std::string_view path, const std::string& body) const {
  const std::string_view route = path.substr(kPrefix.size());
  JanusJson request(cJSON_ParseWithLength(body.data(), body.size()), cJSON_Delete);
  if (!cJSON_IsObject(request.get())) return RefuseStream(400, "the request must be a JSON object");
  if (route == "watch") return Watch();

  uint64_t session = 0, handle = 0;
  if (!ParseJanusId(StringMember(request.get(), "session"), &session)) return RefuseStream(400, "no valid session");
  JanusClient janus(janus_url_);
  std::string error;
  if (route == "keepalive") {
    if (janus.KeepAlive(session, &error)) return StreamOk(JanusJson(cJSON_CreateObject(), cJSON_Delete).get());
    return RefuseStream(janus.Refused() ? 404 : 503, error);
  }
  if (route == "stop") {
    janus.Destroy(session);
    return StreamOk(JanusJson(cJSON_CreateObject(), cJSON_Delete).get());
  }
  if (route != "start") return RefuseStream(404, "no such stream request");

  if (!ParseJanusId(StringMember(request.get(), "handle"), &handle)) return RefuseStream(400, "no valid handle");
  const cJSON* answer = cJSON_GetObjectItemCaseSensitive(request.get(), "answer");
  const char* type = StringMember(answer, "type");
  const char* sdp = StringMember(answer, "sdp");
  if (!type || std::strcmp(type, "answer") != 0 || !sdp || std::strncmp(sdp, "v=0", 3) != 0) {
    return RefuseStream(400, "the answer must be an SDP answer");
  }
  // Only these members reach Janus: the browser gathers its candidates before
  // it answers, so nothing trickles after.
  JanusJson jsep(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(jsep.get(), "type", "answer");
  cJSON_AddStringToObject(jsep.get(), "sdp", sdp);
  cJSON_AddFalseToObject(jsep.get(), "trickle");
  JanusJson start(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(start.get(), "request", "start");
  JanusJson started = janus.Message(session, handle, start.get(), jsep.get(), &error);
  if (!started) return RefuseStream(janus.Refused() ? 404 : 503, error);
  return StreamOk(JanusJson(cJSON_CreateObject(), cJSON_Delete).get());
}
