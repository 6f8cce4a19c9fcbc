#include "janus_client.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kMaxAnswer = 256 * 1024;
constexpr long kConnectTimeoutMs = 1000;

size_t AppendAnswer(char* data, size_t size, size_t count, void* out) {
  auto* text = static_cast<std::string*>(out);
  if (text->size() + size * count > kMaxAnswer) return 0;  // ends the transfer
  text->append(data, size * count);
  return size * count;
}

std::string SessionPath(uint64_t session) { return "/" + std::to_string(session); }

JanusJson Verb(const char* verb) {
  JanusJson body(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(body.get(), "janus", verb);
  return body;
}

}  // namespace

JanusClient::JanusClient(std::string base_url) : base_url_(std::move(base_url)), curl_(curl_easy_init()) {}

JanusClient::~JanusClient() { curl_easy_cleanup(static_cast<CURL*>(curl_)); }

JanusJson JanusClient::Request(const std::string& path, cJSON* body, long timeout_ms, std::string* error) {
  CURL* curl = static_cast<CURL*>(curl_);
  if (!curl) {
    *error = "no HTTP client";
    return NoJanusJson();
  }
  curl_easy_reset(curl);
  refused_ = false;
  const std::string url = base_url_ + path;
  std::string answer, text;
  curl_slist* headers = nullptr;
  if (body) {
    cJSON_DeleteItemFromObject(body, "transaction");
    cJSON_AddStringToObject(body, "transaction", ("vb" + std::to_string(++transaction_)).c_str());
    char* printed = cJSON_PrintUnformatted(body);
    text = printed ? printed : "";
    cJSON_free(printed);
    headers = curl_slist_append(headers, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, text.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(text.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  }
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_ms);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  if (result != CURLE_OK) {
    *error = std::string("the video server does not answer (") + curl_easy_strerror(result) + ")";
    return NoJanusJson();
  }
  JanusJson json(cJSON_ParseWithLength(answer.data(), answer.size()), cJSON_Delete);
  const cJSON* verb = cJSON_GetObjectItemCaseSensitive(json.get(), "janus");
  if (status != 200 || !cJSON_IsString(verb)) {
    *error = "the video server gave no answer it could read (HTTP " + std::to_string(status) + ")";
    return NoJanusJson();
  }
  if (std::strcmp(verb->valuestring, "error") == 0) {
    const cJSON* reason = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(json.get(), "error"),
                                                           "reason");
    *error = std::string("the video server refused: ") + (cJSON_IsString(reason) ? reason->valuestring : "?");
    refused_ = true;
    return NoJanusJson();
  }
  return json;
}

bool JanusClient::Open(uint64_t* session, uint64_t* handle, std::string* error) {
  JanusJson created = Request("", Verb("create").get(), 2000, error);
  *session = JanusId(created.get());
  if (*session == 0) {
    if (created) *error = "the video server made no session";
    return false;
  }
  JanusJson attach = Verb("attach");
  cJSON_AddStringToObject(attach.get(), "plugin", "janus.plugin.streaming");
  JanusJson attached = Request(SessionPath(*session), attach.get(), 2000, error);
  *handle = JanusId(attached.get());
  if (*handle == 0) {
    if (attached) *error = "the video server has no streaming plugin";
    Destroy(*session);
    return false;
  }
  return true;
}

JanusJson JanusClient::Message(uint64_t session, uint64_t handle, cJSON* body, cJSON* jsep, std::string* error) {
  JanusJson message = Verb("message");
  cJSON_AddItemReferenceToObject(message.get(), "body", body);
  if (jsep) cJSON_AddItemReferenceToObject(message.get(), "jsep", jsep);
  return Request(SessionPath(session) + "/" + std::to_string(handle), message.get(), 3000, error);
}

JanusJson JanusClient::NextEvent(uint64_t session, long timeout_ms, std::string* error) {
  // Janus answers a long poll after 30 s at most, with a keepalive when idle.
  return Request(SessionPath(session) + "?maxev=1&rid=" + std::to_string(++transaction_), nullptr, timeout_ms,
                 error);
}

bool JanusClient::KeepAlive(uint64_t session, std::string* error) {
  return Request(SessionPath(session), Verb("keepalive").get(), 2000, error) != nullptr;
}

void JanusClient::Destroy(uint64_t session) {
  std::string ignored;
  Request(SessionPath(session), Verb("destroy").get(), 2000, &ignored);
}

uint64_t JanusId(const cJSON* answer) {
  const cJSON* id = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(answer, "data"), "id");
  // Janus keeps its ids below 2^53, exact in a double.
  return cJSON_IsNumber(id) && id->valuedouble >= 1 && id->valuedouble < 9007199254740992.0
             ? static_cast<uint64_t>(id->valuedouble)
             : 0;
}

bool ParseJanusId(const char* text, uint64_t* id) {
  if (!text || !*text || std::strlen(text) > 16) return false;
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  *id = std::strtoull(text, nullptr, 10);
  return *id != 0;
}
