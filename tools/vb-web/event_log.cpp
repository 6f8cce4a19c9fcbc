#include "event_log.h"

#include <cjson/cJSON.h>
#include <systemd/sd-journal.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/event_journal.h"

namespace {

// Owns one open journal, matched on the project's events.
class Journal {
 public:
  bool Open(std::string* error) {
    int r = sd_journal_open(&j_, SD_JOURNAL_LOCAL_ONLY);
    for (int e = 0; r >= 0 && e < kJournalEventCount; ++e) {
      const std::string match = std::string("VB_EVENT=") + JournalEventName(static_cast<JournalEvent>(e));
      r = sd_journal_add_match(j_, match.data(), match.size());  // one field: any of them
    }
    if (r < 0) *error = std::string("cannot read the journal: ") + std::strerror(-r);
    return r >= 0;
  }
  ~Journal() {
    if (j_) sd_journal_close(j_);
  }
  sd_journal* get() { return j_; }

 private:
  sd_journal* j_ = nullptr;
};

std::string Field(sd_journal* j, const char* name) {
  const void* data = nullptr;
  size_t length = 0;
  if (sd_journal_get_data(j, name, &data, &length) < 0) return {};
  const size_t prefix = std::strlen(name) + 1;  // "NAME="
  if (length < prefix) return {};
  return std::string(static_cast<const char*>(data) + prefix, length - prefix);
}

std::string IsoTime(uint64_t usec) {
  const time_t seconds = static_cast<time_t>(usec / 1000000);
  tm parts{};
  gmtime_r(&seconds, &parts);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(text + n, sizeof text - n, ".%03uZ", static_cast<unsigned>(usec / 1000 % 1000));
  return text;
}

// The entry the journal stands at, as one JSON object (no line end).
std::string EntryJson(sd_journal* j) {
  uint64_t usec = 0;
  sd_journal_get_realtime_usec(j, &usec);
  cJSON* o = cJSON_CreateObject();
  cJSON_AddStringToObject(o, "time", IsoTime(usec).c_str());
  cJSON_AddNumberToObject(o, "usec", static_cast<double>(usec));
  static constexpr const char* kFields[][2] = {{"event", "VB_EVENT"},   {"source", "VB_SOURCE"},
                                               {"command", "VB_COMMAND"}, {"detail", "VB_DETAIL"},
                                               {"message", "MESSAGE"}};
  for (const auto& field : kFields) {
    const std::string value = Field(j, field[1]);
    if (!value.empty()) cJSON_AddStringToObject(o, field[0], value.c_str());
  }
  const std::string repeated = Field(j, "VB_REPEATED");
  if (!repeated.empty()) cJSON_AddNumberToObject(o, "repeated", std::strtod(repeated.c_str(), nullptr));
  char* printed = cJSON_PrintUnformatted(o);
  std::string out = printed ? printed : "{}";
  cJSON_free(printed);
  cJSON_Delete(o);
  return out;
}

}  // namespace

bool RecentEventsJson(size_t count, std::string* json, std::string* error) {
  Journal journal;
  if (!journal.Open(error)) return false;
  sd_journal* j = journal.get();
  std::vector<std::string> newest_first;
  sd_journal_seek_tail(j);
  while (newest_first.size() < count && sd_journal_previous(j) > 0) newest_first.push_back(EntryJson(j));
  *json = "[";
  for (auto it = newest_first.rbegin(); it != newest_first.rend(); ++it) {
    if (json->size() > 1) *json += ',';
    *json += *it;
  }
  *json += ']';
  return true;
}

bool EventLines(uint64_t since_us, uint64_t until_us, size_t max_lines, std::string* lines, std::string* error) {
  Journal journal;
  if (!journal.Open(error)) return false;
  sd_journal* j = journal.get();
  lines->clear();
  sd_journal_seek_realtime_usec(j, since_us);
  for (size_t n = 0; n < max_lines && sd_journal_next(j) > 0; ++n) {
    uint64_t usec = 0;
    if (sd_journal_get_realtime_usec(j, &usec) < 0 || usec > until_us) break;
    if (usec < since_us) continue;
    *lines += EntryJson(j);
    *lines += '\n';
  }
  return true;
}
