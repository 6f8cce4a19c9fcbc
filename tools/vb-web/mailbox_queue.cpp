#include "mailbox_queue.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "records/hud_state.h"

namespace {

// The box reads the mailbox from another process: its first byte is the flag
// of the handshake, so it is stored and loaded as an atomic.
char LoadFirst(const char* mailbox) {
  return std::atomic_ref<char>(*const_cast<char*>(mailbox)).load(std::memory_order_acquire);
}

void StoreFirst(char* mailbox, char value) {
  std::atomic_ref<char>(*mailbox).store(value, std::memory_order_release);
}

}  // namespace

bool MailboxEmpty(const char* mailbox) { return LoadFirst(mailbox) == 0; }

void PutMailboxCommand(char* mailbox, std::string_view text) {
  if (text.empty() || text.size() >= static_cast<size_t>(kCommandMailboxSize)) return;
  std::memcpy(mailbox + 1, text.data() + 1, text.size() - 1);
  mailbox[text.size()] = '\0';
  StoreFirst(mailbox, text[0]);
}

bool WithdrawMailboxCommand(char* mailbox, char first) {
  return std::atomic_ref<char>(*mailbox).compare_exchange_strong(first, 0, std::memory_order_acq_rel);
}

bool MailboxHolds(const char* mailbox, std::string_view text) {
  if (text.empty() || text.size() >= static_cast<size_t>(kCommandMailboxSize)) return false;
  if (LoadFirst(mailbox) != text[0]) return false;
  return std::memcmp(mailbox + 1, text.data() + 1, text.size() - 1) == 0 && mailbox[text.size()] == '\0';
}

const char* MailboxOutcomeText(MailboxOutcome outcome) {
  switch (outcome) {
    case MailboxOutcome::kTaken: return "taken";
    case MailboxOutcome::kQueueFull: return "too many commands are waiting; try again in a moment";
    case MailboxOutcome::kNoMailbox: return "the box is not running (no shared record)";
    case MailboxOutcome::kBusy: return "the box's mailbox stayed busy with another program's command";
    case MailboxOutcome::kNotTaken: return "the box did not take the command in time; it was withdrawn";
    case MailboxOutcome::kExpired: return "the box was busy for too long; the command was not sent";
    case MailboxOutcome::kStopped: return "the web server is stopping";
  }
  return "unknown";
}

MailboxQueue::MailboxQueue(MailboxAccess access, size_t capacity, MailboxTiming timing)
    : access_(std::move(access)), capacity_(capacity), timing_(timing) {}

MailboxQueue::~MailboxQueue() { Stop(); }

void MailboxQueue::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (writer_.joinable() || stopping_) return;
  writer_ = std::thread([this] { Run(); });
}

void MailboxQueue::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (auto& entry : queue_) {
      entry->outcome = MailboxOutcome::kStopped;
      entry->done = true;
    }
    queue_.clear();
  }
  wake_.notify_all();
  finished_.notify_all();
  if (writer_.joinable()) writer_.join();
}

MailboxOutcome MailboxQueue::Send(std::string text) {
  auto entry = std::make_shared<Entry>();
  entry->text = std::move(text);
  entry->queued = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) return MailboxOutcome::kStopped;
  if (queue_.size() >= capacity_) return MailboxOutcome::kQueueFull;
  queue_.push_back(entry);
  wake_.notify_all();
  finished_.wait(lock, [&] { return entry->done; });
  return entry->outcome;
}

size_t MailboxQueue::Waiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size() + (delivering_ ? 1 : 0);
}

void MailboxQueue::Finish(const std::shared_ptr<Entry>& entry, MailboxOutcome outcome) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entry->outcome = outcome;
    entry->done = true;
    delivering_ = false;
  }
  finished_.notify_all();
}

void MailboxQueue::Run() {
  pthread_setname_np(pthread_self(), "web-mailbox");
  for (;;) {
    std::shared_ptr<Entry> entry;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      entry = queue_.front();
      queue_.pop_front();
      delivering_ = true;
    }
    const bool expired = std::chrono::steady_clock::now() - entry->queued > timing_.deadline;
    Finish(entry, expired ? MailboxOutcome::kExpired : Deliver(*entry));
  }
}

bool MailboxQueue::WaitUntil(const std::function<bool(const char* mailbox)>& done,
                             std::chrono::steady_clock::time_point until, bool* mapped) {
  for (;;) {
    bool met = false;
    *mapped = access_([&](char* mailbox) { met = done(mailbox); });
    if (!*mapped) return false;
    if (met) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    if (std::chrono::steady_clock::now() >= until) return false;
    if (wake_.wait_for(lock, timing_.poll, [&] { return stopping_; })) return false;
  }
}

MailboxOutcome MailboxQueue::Deliver(const Entry& entry) {
  bool mapped = true;
  // Another local program may have a command in the mailbox: ours waits behind it.
  if (!WaitUntil(MailboxEmpty, entry.queued + timing_.deadline, &mapped)) {
    if (!mapped) return MailboxOutcome::kNoMailbox;
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_ ? MailboxOutcome::kStopped : MailboxOutcome::kBusy;
  }
  if (!access_([&](char* mailbox) { PutMailboxCommand(mailbox, entry.text); })) return MailboxOutcome::kNoMailbox;
  // Taken once the mailbox no longer holds our text (another writer may
  // already have put its own there).
  auto taken = [&](const char* mailbox) { return !MailboxHolds(mailbox, entry.text); };
  if (WaitUntil(taken, std::chrono::steady_clock::now() + timing_.take, &mapped)) return MailboxOutcome::kTaken;
  if (!mapped) return MailboxOutcome::kNoMailbox;
  // Not taken in time: a command that runs long after the page gave up on it
  // would surprise the user (a gimbal move, a recording), so it is taken back.
  bool withdrawn = false;
  access_([&](char* mailbox) {
    withdrawn = MailboxHolds(mailbox, entry.text) && WithdrawMailboxCommand(mailbox, entry.text[0]);
  });
  // Claimed by the box meanwhile: it runs, and the page learns so.
  if (!withdrawn) return MailboxOutcome::kTaken;
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_ ? MailboxOutcome::kStopped : MailboxOutcome::kNotTaken;
}
