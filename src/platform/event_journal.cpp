#include "platform/event_journal.h"

#include <cjson/cJSON.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <strings.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <span>

#include "platform/worker_pool.h"

namespace {

constexpr int kQueueSize = 256;
constexpr int kRecentSize = 32;
constexpr int64_t kRepeatWindowMs = 1000;
constexpr size_t kLongestCommand = 1024;
constexpr const char* kEventNames[kJournalEventCount] = {"command",     "viewer-joined", "viewer-left", "camera-link",
                                                         "video-link",  "save",          "access"};
// Members whose values are secrets: the Wi-Fi passwords of the "wifi" setting
// (value6, value9), and any member named for a password, key or PIN.
constexpr const char* kSecretMembers[] = {"value6", "value9"};
constexpr const char* kSecretWords[] = {"psk", "pass", "pin", "secret"};

struct QueuedEvent {
  JournalEvent event;
  bool peer_text;  // text came from a peer: mask and escape it
  char source[kJournalSourceSize];
  char text[kJournalTextSize];
  int length;
};

// The queue: filled by any thread, emptied by the writer.
std::mutex g_queue_mutex;
QueuedEvent g_queue[kQueueSize];
int g_head = 0;
int g_count = 0;
uint64_t g_lost = 0;

// What one entry says, ready to write.
struct Entry {
  JournalEvent event;
  std::string source;
  std::string command;  // masked command text, for commands
  std::string detail;
  std::string likeness;  // events with equal likeness are rate-limited together
  uint64_t repeated = 0;
};

// The last entry written of each kind seen lately; the writer's own.
struct Recent {
  size_t likeness = 0;
  int64_t written_ms = INT64_MIN / 2;
  bool used = false;
  bool pending = false;  // a like event waits to be written
  Entry waiting;
  uint64_t untold = 0;  // like events not written since the last one
};
std::mutex g_writer_mutex;
// Never destroyed: a worker may still write while the process exits.
Recent* const g_recent = new Recent[kRecentSize];

std::atomic<EventOutput> g_output{EventOutput::kUndecided};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void CopyText(char* to, size_t size, const char* text, size_t length) {
  if (text == nullptr) length = 0;
  if (length > size - 1) length = size - 1;
  if (length > 0) std::memcpy(to, text, length);
  to[length] = '\0';
}

void Queue(JournalEvent event, bool peer_text, const char* source, const char* text, size_t length) {
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(g_queue_mutex);
    if (g_count == kQueueSize) {
      ++g_lost;
      return;
    }
    QueuedEvent& slot = g_queue[(g_head + g_count) % kQueueSize];
    slot.event = event;
    slot.peer_text = peer_text;
    CopyText(slot.source, sizeof slot.source, source, source ? std::strlen(source) : 0);
    CopyText(slot.text, sizeof slot.text, text, length);
    slot.length = static_cast<int>(std::strlen(slot.text));
    first = g_count == 0;
    ++g_count;
  }
  if (first) PostInternalWork(FlushEventJournal);
}

// Bytes that are not whole UTF-8 characters become '?': the journal keeps
// text fields as text only when they are valid UTF-8.
std::string ValidUtf8(const std::string& text) {
  std::string out;
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = b[i];
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 2 && c < 0xC2) length = 0;
    for (size_t k = 1; length != 0 && k < length; ++k) {
      if (i + k >= n || (b[i + k] & 0xC0) != 0x80) length = 0;
    }
    if (length == 0) {
      out.push_back('?');
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

bool IsSecretMember(const char* name) {
  if (name == nullptr) return false;
  for (const char* member : kSecretMembers) {
    if (strcasecmp(name, member) == 0) return true;
  }
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* word : kSecretWords) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return false;
}

std::string MemberText(const cJSON* root, const char* name) {
  const cJSON* member = cJSON_GetObjectItem(root, name);
  return cJSON_IsString(member) ? std::string(member->valuestring).substr(0, 24) : std::string();
}

// The command as written, and in *words what makes commands alike: the
// command word and what it acts on, not its values.
std::string Masked(const char* text, size_t n, std::string* words) {
  cJSON* root = n > 0 ? cJSON_ParseWithLength(text, n) : nullptr;
  if (!cJSON_IsObject(root)) {
    cJSON_Delete(root);
    *words = "?";
    // Never the text itself: it may hold a password in a form nobody parsed.
    return "(not a JSON object: " + std::to_string(n) + " bytes)";
  }
  *words = MemberText(root, "cmd") + "/" + MemberText(root, "param") + "/" + MemberText(root, "name");
  for (cJSON* member = root->child; member != nullptr; member = member->next) {
    if (IsSecretMember(member->string) && !cJSON_IsNull(member)) {
      cJSON* mask = cJSON_CreateString("***");
      // The name moves to the mask: replacing by pointer keeps none.
      mask->string = member->string;
      member->string = nullptr;
      cJSON_ReplaceItemViaPointer(root, member, mask);
      member = mask;
    }
  }
  char* printed = cJSON_PrintUnformatted(root);
  cJSON_Delete(root);
  std::string out = printed ? ValidUtf8(printed) : std::string();
  cJSON_free(printed);
  if (out.size() > kLongestCommand) return "(long command: " + std::to_string(n) + " bytes)";
  return out;
}

Entry MakeEntry(const QueuedEvent& queued) {
  Entry entry;
  entry.event = queued.event;
  entry.source = ValidUtf8(queued.source);
  std::string text(queued.text, static_cast<size_t>(queued.length));
  if (queued.event == JournalEvent::kCommand) {
    std::string words;
    entry.command = queued.peer_text ? Masked(queued.text, text.size(), &words) : ValidUtf8(text);
    if (!queued.peer_text) words = entry.command;
    entry.likeness = entry.source + "|" + words;
  } else {
    entry.detail = ValidUtf8(text);
    entry.likeness = entry.source + "|" + entry.detail;
  }
  entry.likeness = std::string(kEventNames[static_cast<int>(queued.event)]) + "|" + entry.likeness;
  return entry;
}

std::string Message(const Entry& e) {
  switch (e.event) {
    case JournalEvent::kCommand:
      return "command from " + e.source + ": " + e.command;
    case JournalEvent::kViewerJoined:
      return e.source + " joined (" + e.detail + ")";
    case JournalEvent::kViewerLeft:
      return e.source + " left (" + e.detail + ")";
    case JournalEvent::kCameraLink:
      return "camera link " + e.detail;
    case JournalEvent::kVideoLink:
      return "video link " + e.detail;
    case JournalEvent::kSave:
      return "settings " + e.detail;
    case JournalEvent::kAccess:
      return e.source + ": " + e.detail;
  }
  return e.detail;
}

bool DecideJournal() {
  // The service manager names its journal stream; standard error is the
  // journal's only when it is still that very stream.
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat st{};
  return fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

EventOutput Output() {
  EventOutput output = g_output.load(std::memory_order_relaxed);
  if (output == EventOutput::kUndecided) {
    output = DecideJournal() ? EventOutput::kJournal : EventOutput::kStandardError;
    g_output.store(output, std::memory_order_relaxed);
  }
  return output;
}

void Write(const Entry& e) {
  const EventOutput output = Output();
  if (output == EventOutput::kNowhere) return;
  std::string message = Message(e);
  if (e.repeated > 0) message += " (and " + std::to_string(e.repeated) + " like it before, not written)";
  if (output == EventOutput::kStandardError) {
    std::fprintf(stderr, "event: %s\n", message.c_str());
    return;
  }
  std::string fields[8];
  int n = 0;
  fields[n++] = "MESSAGE=" + message;
  fields[n++] = "PRIORITY=6";
  fields[n++] = std::string("VB_EVENT=") + JournalEventName(e.event);
  fields[n++] = "VB_SOURCE=" + e.source;
  if (!e.command.empty()) fields[n++] = "VB_COMMAND=" + e.command;
  if (!e.detail.empty()) fields[n++] = "VB_DETAIL=" + e.detail;
  if (e.repeated > 0) fields[n++] = "VB_REPEATED=" + std::to_string(e.repeated);
  iovec parts[8];
  for (int i = 0; i < n; ++i) parts[i] = iovec{fields[i].data(), fields[i].size()};
  // A journal that is gone or full drops the entry: the box goes on.
  sd_journal_sendv(parts, n);
}

Recent& SlotFor(size_t likeness) {
  Recent* oldest = &g_recent[0];
  for (Recent& r : std::span(g_recent, kRecentSize)) {
    if (r.used && r.likeness == likeness) return r;
    if (!r.used) {
      oldest = &r;
      break;
    }
    if (!r.pending && (oldest->pending || r.written_ms < oldest->written_ms)) oldest = &r;
  }
  if (oldest->pending) {  // evicted: told now rather than never
    oldest->waiting.repeated = oldest->untold;
    Write(oldest->waiting);
  }
  *oldest = Recent{};
  oldest->used = true;
  oldest->likeness = likeness;
  return *oldest;
}

// With the writer's lock held.
void WriteLimited(Entry entry, int64_t now) {
  Recent& recent = SlotFor(std::hash<std::string>{}(entry.likeness));
  if (now - recent.written_ms < kRepeatWindowMs) {
    if (recent.pending) ++recent.untold;
    recent.pending = true;
    recent.waiting = std::move(entry);
    return;
  }
  entry.repeated = recent.untold + (recent.pending ? 1 : 0);
  Write(entry);
  recent.written_ms = now;
  recent.pending = false;
  recent.untold = 0;
}

void WriteDuePending(int64_t now) {
  for (Recent& recent : std::span(g_recent, kRecentSize)) {
    if (!recent.pending || now - recent.written_ms < kRepeatWindowMs) continue;
    recent.waiting.repeated = recent.untold;
    Write(recent.waiting);
    recent.written_ms = now;
    recent.pending = false;
    recent.untold = 0;
  }
}

}  // namespace

const char* JournalEventName(JournalEvent event) {
  const int i = static_cast<int>(event);
  return i >= 0 && i < kJournalEventCount ? kEventNames[i] : "unknown";
}

JournalSource ViewerSource(const char* address, uint32_t port) {
  JournalSource source;
  std::snprintf(source.text, sizeof source.text, "viewer %.16s:%u", address ? address : "?", port);
  return source;
}

void NoteCommand(const char* source, const char* text, int length) {
  if (text == nullptr || length <= 0) return;
  Queue(JournalEvent::kCommand, true, source, text, static_cast<size_t>(length));
}

void NoteEvent(JournalEvent event, const char* source, const char* detail) {
  Queue(event, false, source, detail, detail ? std::strlen(detail) : 0);
}

std::string MaskedCommand(const char* text, int length) {
  if (text == nullptr || length < 0) length = 0;
  std::string words;
  return Masked(text, strnlen(text ? text : "", static_cast<size_t>(length)), &words);
}

void FlushEventJournal() {
  std::lock_guard<std::mutex> writer(g_writer_mutex);
  for (;;) {
    QueuedEvent batch[16];
    int taken = 0;
    uint64_t lost = 0;
    {
      std::lock_guard<std::mutex> lock(g_queue_mutex);
      while (taken < 16 && g_count > 0) {
        batch[taken++] = g_queue[g_head];
        g_head = (g_head + 1) % kQueueSize;
        --g_count;
      }
      lost = g_lost;
      g_lost = 0;
    }
    const int64_t now = NowMs();
    if (Output() == EventOutput::kNowhere) {
      if (taken == 0) return;
      continue;  // nothing written, nothing remembered for the repeat rule
    }
    if (lost > 0) std::fprintf(stderr, "journal: %llu events not written, too many at once\n",
                               static_cast<unsigned long long>(lost));
    for (int i = 0; i < taken; ++i) WriteLimited(MakeEntry(batch[i]), now);
    if (taken == 0) {
      WriteDuePending(now);
      return;
    }
  }
}

void SetEventOutput(EventOutput output) { g_output.store(output, std::memory_order_relaxed); }
