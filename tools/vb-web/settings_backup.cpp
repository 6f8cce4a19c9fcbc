#include "settings_backup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <random>

#include "commands/vocabulary.h"
#include "common/json_text.h"
#include "json_document.h"
#include "mailbox_queue.h"
#include "platform/durable_file.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kAnswerPoll = 50ms;

std::string Json(bool ok, const char* member, std::string_view text, const char* extra = "") {
  std::string json = std::string("{\"ok\":") + (ok ? "true" : "false") + ",\"" + member + "\":\"";
  AppendJsonEscaped(&json, text);
  return json + "\"" + extra + "}";
}

BackupAnswer Refused(unsigned status, std::string_view why) { return {status, Json(false, "error", why)}; }

// The bytes of {"file":[...]}; false when the body is anything else.
bool ReadUpload(std::string_view body, std::string* bytes) {
  const std::string copy(body);
  JsonPtr root(cJSON_ParseWithOpts(copy.c_str(), nullptr, 1));
  const cJSON* file = root ? cJSON_GetObjectItemCaseSensitive(root.get(), "file") : nullptr;
  if (!cJSON_IsArray(file)) return false;
  for (const cJSON* item = file->child; item != nullptr; item = item->next) {
    const double value = item->valuedouble;
    if (!cJSON_IsNumber(item) || value < 0 || value > 255 || std::floor(value) != value) return false;
    bytes->push_back(static_cast<char>(static_cast<unsigned char>(value)));
  }
  return true;
}

// The daemon's answer line for this token: its word and why; false while there is none.
bool ReadAnswer(const std::string& path, const std::string& token, std::string* word, std::string* why) {
  std::string line;
  if (ReadWholeFile(path, &line) != FileRead::kRead || line.rfind(token + " ", 0) != 0) return false;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  const size_t space = line.find(' ', token.size() + 1);
  *word = line.substr(token.size() + 1, space == std::string::npos ? std::string::npos : space - token.size() - 1);
  *why = space == std::string::npos ? "" : line.substr(space + 1);
  return true;
}

}  // namespace

SettingsBackup::SettingsBackup(SettingsFilePaths paths, MailboxQueue* queue, std::chrono::milliseconds answer_wait)
    : paths_(std::move(paths)), queue_(queue), answer_wait_(answer_wait) {}

bool SettingsBackup::Prepare(std::string* error) const {
  if (mkdir(paths_.handover.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot make " + paths_.handover + ": " + std::strerror(errno);
    return false;
  }
  struct stat st{};
  // The daemon takes what lies there: nobody but this user may put it there.
  if (lstat(paths_.handover.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 022) != 0) {
    *error = paths_.handover + " is not a folder that only this user writes";
    return false;
  }
  return true;
}

BackupAnswer SettingsBackup::Download() const {
  BackupAnswer best{404, Json(false, "error", "the box has no saved settings: it runs on its packaged defaults")};
  timespec newest{};
  for (const std::string* path : {&paths_.run_copy, &paths_.working_copy}) {
    struct stat st{};
    std::string text;
    if (stat(path->c_str(), &st) != 0 || ReadWholeFile(*path, &text) != FileRead::kRead) continue;
    if (!CheckSettingsText(text).Good()) continue;
    const timespec& when = st.st_mtim;
    if (best.file && (when.tv_sec < newest.tv_sec || (when.tv_sec == newest.tv_sec && when.tv_nsec <= newest.tv_nsec))) {
      continue;
    }
    newest = when;
    best = {200, std::move(text), true};
  }
  return best;
}

std::string SettingsBackup::NextToken() {
  static std::random_device random;
  return std::to_string(getpid()) + "-" + std::to_string(++restores_) + "-" + std::to_string(random());
}

BackupAnswer SettingsBackup::Restore(std::string_view body,
                                     const std::function<bool(std::chrono::milliseconds)>& pause) {
  std::string text;
  if (!ReadUpload(body, &text)) return Refused(400, "the upload is not a file as the page sends it");
  const RestoreCheck check = CheckRestoredText(text);
  if (!check.problem.empty()) return Refused(400, "not restored: " + check.problem);
  if (queue_ == nullptr) return Refused(503, "no mailbox");

  std::lock_guard<std::mutex> lock(restore_mutex_);
  const std::string token = NextToken();
  const std::string file = paths_.handover + "/" + kRestoreFileName;
  const std::string answer = paths_.handover + "/" + kRestoreAnswerName;
  unlink(answer.c_str());
  if (const char* failed = ReplaceFileWhole(file, text)) {
    return Refused(500, std::string("the file could not be handed to the box: ") + failed + " failed (" +
                            std::strerror(errno) + ")");
  }
  char command[128];
  const CommandWord* restore = FindCommandWord("restore");
  if (restore == nullptr || BuildCommandText(*restore, nullptr, token.c_str(), nullptr, command, sizeof command) == 0) {
    unlink(file.c_str());
    return Refused(500, "the restore command could not be written");
  }
  BackupAnswer result;
  result.outcome = queue_->Send(command);
  std::string word, why;
  bool answered = false;
  if (result.outcome == MailboxOutcome::kTaken) {
    const auto deadline = std::chrono::steady_clock::now() + answer_wait_;
    while (!(answered = ReadAnswer(answer, token, &word, &why)) && std::chrono::steady_clock::now() < deadline &&
           pause(kAnswerPoll)) {
    }
  }
  unlink(file.c_str());
  unlink(answer.c_str());
  if (result.outcome != MailboxOutcome::kTaken) return result;
  if (!answered) return Refused(504, "the box took the file but did not answer in time; it may still restore it");
  if (word == "saved") return {200, Json(true, "message", why, ",\"restart\":false")};
  if (word == "restarting") return {200, Json(true, "message", why, ",\"restart\":true")};
  if (word == "refused") return Refused(400, "not restored: " + why);
  return Refused(500, "not restored: " + why);
}
