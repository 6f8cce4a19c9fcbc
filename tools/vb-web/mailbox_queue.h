// Commands from the page to the box, one at a time through the 512-byte
// CommandMailbox in "/hud_mem": a text is written only while the mailbox is
// empty (its first byte 0), the rest of the text before its first byte, and
// the next one waits until the box has taken it (emptied the mailbox). A
// bounded queue holds the requests behind it, so a burst of requests can
// never write faster than the box empties the mailbox.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// The handshake on a mailbox area of kCommandMailboxSize bytes.
bool MailboxEmpty(const char* mailbox);
// text: 1 ... 511 bytes. The first byte goes last, after the rest is in place.
void PutMailboxCommand(char* mailbox, std::string_view text);
// Takes back a command the box did not take, in one step on the first byte
// (the box claims a command the same way before it reads it): true when
// withdrawn, false when the box had already claimed or taken it.
bool WithdrawMailboxCommand(char* mailbox, char first);
// True while the mailbox holds exactly this text.
bool MailboxHolds(const char* mailbox, std::string_view text);

// Where the queue finds the mailbox: runs f on the mailbox bytes and returns
// true, or returns false when there is no mailbox now (the record not mapped).
using MailboxAccess = std::function<bool(const std::function<void(char* mailbox)>& f)>;

enum class MailboxOutcome {
  kTaken,        // the box emptied the mailbox: it has the command
  kQueueFull,    // refused at once: too many commands waiting
  kNoMailbox,    // "/hud_mem" is not there: the box is not running
  kBusy,         // another writer's command stayed in the mailbox
  kNotTaken,     // written, but the box did not take it in time; withdrawn
  kExpired,      // waited in the queue past its deadline; never written
  kStopped,      // vb-web is ending
};

const char* MailboxOutcomeText(MailboxOutcome outcome);

struct MailboxTiming {
  std::chrono::milliseconds take{8000};       // the box's mailbox thread may be busy for 4.4 s (playback keys)
  std::chrono::milliseconds deadline{15000};  // from queueing to writing
  std::chrono::milliseconds poll{20};
};

class MailboxQueue {
 public:
  MailboxQueue(MailboxAccess access, size_t capacity, MailboxTiming timing = {});
  ~MailboxQueue();
  MailboxQueue(const MailboxQueue&) = delete;
  MailboxQueue& operator=(const MailboxQueue&) = delete;

  void Start();
  // Ends the writer; waiting and later requests get kStopped.
  void Stop();

  // Queues one command text and waits for its outcome.
  MailboxOutcome Send(std::string text);
  // Commands queued or in the mailbox now.
  size_t Waiting() const;

 private:
  struct Entry {
    std::string text;
    std::chrono::steady_clock::time_point queued;
    MailboxOutcome outcome = MailboxOutcome::kStopped;
    bool done = false;
  };

  void Run();
  MailboxOutcome Deliver(const Entry& entry);
  // Polls the mailbox until done(mailbox) holds; false on time-out, stop or
  // when the mailbox is gone (*mapped false).
  bool WaitUntil(const std::function<bool(const char* mailbox)>& done, std::chrono::steady_clock::time_point until,
                 bool* mapped);
  void Finish(const std::shared_ptr<Entry>& entry, MailboxOutcome outcome);

  MailboxAccess access_;
  const size_t capacity_;
  const MailboxTiming timing_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;      // the writer: a new entry, or stop
  std::condition_variable finished_;  // the senders: an outcome
  std::deque<std::shared_ptr<Entry>> queue_;
  bool delivering_ = false;
  bool stopping_ = false;
  std::thread writer_;
};
