// The mailbox handshake and vb-web's queue in front of it, on a 512-byte area
// emptied by a thread that reads it the way the box's mailbox thread does.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../../tools/vb-web/mailbox_queue.h"
#include "clients/mailbox.h"
#include "records/hud_state.h"

namespace {

using namespace std::chrono_literals;

// The box's side: takes a text every period while running, as the box does
// (copy up to the NUL, then empty the whole area).
class FakeBox {
 public:
  explicit FakeBox(std::chrono::milliseconds period) : period_(period) {}
  ~FakeBox() { Stop(); }

  void Start() {
    running_ = true;
    thread_ = std::thread([this] {
      while (running_) {
        if (taking_) Take();
        std::this_thread::sleep_for(period_);
      }
    });
  }
  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  void SetTaking(bool taking) { taking_ = taking; }

  // The queue's view of the area; it also checks that the queue never writes
  // over a command that is still there.
  MailboxAccess Access() {
    return [this](const std::function<void(char*)>& f) {
      if (!mapped_) return false;
      std::lock_guard<std::mutex> lock(mutex_);
      char before[kCommandMailboxSize];
      std::memcpy(before, area_, sizeof before);
      f(area_);
      if (before[0] != 0 && area_[0] != 0 && std::memcmp(before, area_, sizeof before) != 0) overwrites_++;
      return true;
    };
  }

  std::vector<std::string> Taken() {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_;
  }
  char* Area() { return area_; }
  std::atomic<bool> mapped_{true};
  std::atomic<int> overwrites_{0};

 private:
  void Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (area_[0] == 0) return;
    taken_.emplace_back(area_, strnlen(area_, kCommandMailboxSize - 1));
    std::memset(area_, 0, sizeof area_);
  }

  std::chrono::milliseconds period_;
  std::atomic<bool> running_{false};
  std::atomic<bool> taking_{true};
  std::thread thread_;
  std::mutex mutex_;
  char area_[kCommandMailboxSize] = {};
  std::vector<std::string> taken_;
};

MailboxTiming Quick() {
  MailboxTiming t;
  t.take = 300ms;
  t.deadline = 2000ms;
  t.poll = 2ms;
  return t;
}

// The page holding a mailbox's first byte is read-only until that byte is
// written; the write stops here, sees what else is in place, and goes on.
char* g_guarded_page = nullptr;
size_t g_page_size = 0;
char g_in_place_at_first_byte[kCommandMailboxSize];

void OnFirstByteWrite(int, siginfo_t*, void*) {
  std::memcpy(g_in_place_at_first_byte, g_guarded_page + g_page_size, kCommandMailboxSize - 1);
  mprotect(g_guarded_page, g_page_size, PROT_READ | PROT_WRITE);
}

TEST(WebMailbox, TheFirstByteGoesInLastAndAWithdrawnTextReadsEmpty) {
  g_page_size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* pages = mmap(nullptr, 2 * g_page_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(pages, MAP_FAILED);
  g_guarded_page = static_cast<char*>(pages);
  char* area = g_guarded_page + g_page_size - 1;  // the first byte alone on its page
  std::memset(area + 1, 'z', kCommandMailboxSize - 1);
  struct sigaction guard = {};
  struct sigaction before = {};
  guard.sa_sigaction = OnFirstByteWrite;
  guard.sa_flags = SA_SIGINFO;
  sigaction(SIGSEGV, &guard, &before);
  mprotect(g_guarded_page, g_page_size, PROT_READ);
  PutMailboxCommand(area, "{\"cmd\":\"iso\"}");
  sigaction(SIGSEGV, &before, nullptr);
  EXPECT_STREQ(g_in_place_at_first_byte, "\"cmd\":\"iso\"}");
  EXPECT_STREQ(area, "{\"cmd\":\"iso\"}");
  EXPECT_FALSE(MailboxEmpty(area));
  EXPECT_TRUE(MailboxHolds(area, "{\"cmd\":\"iso\"}"));
  EXPECT_FALSE(MailboxHolds(area, "{\"cmd\":\"is\"}"));
  EXPECT_TRUE(WithdrawMailboxCommand(area, '{'));
  EXPECT_TRUE(MailboxEmpty(area));
  EXPECT_STREQ(area, "");
  // A command the box has claimed (first byte 1) is not taken back.
  PutMailboxCommand(area, "{\"cmd\":\"iso\"}");
  area[0] = 1;
  EXPECT_FALSE(WithdrawMailboxCommand(area, '{'));
  EXPECT_EQ(area[0], 1);
  area[0] = 0;
  // Texts the area cannot hold are never written.
  PutMailboxCommand(area, std::string(kCommandMailboxSize, 'x'));
  EXPECT_TRUE(MailboxEmpty(area));
  munmap(pages, 2 * g_page_size);
}

// vb-web's writer against the box's own reader on another thread: a withdrawn
// command never runs, and one the box claimed first runs whole.
TEST(WebMailbox, TheBoxRunsEveryTakenCommandWholeAndNoWithdrawnOne) {
  alignas(8) static char area[kCommandMailboxSize];
  std::atomic_ref<char> flag(area[0]);
  const std::string texts[] = {"{\"cmd\":\"" + std::string(495, 'x') + "\"}", "{\"cmd\":\"y\"}"};
  std::atomic<bool> done{false};
  int taken = 0;
  int runs = 0;
  int torn = 0;
  std::thread box([&] {
    char text[kCommandMailboxSize];
    while (!done.load()) {
      if (TakeMailboxCommand(area, text) == 0) {
        std::this_thread::yield();
        continue;
      }
      ++runs;
      torn += text != texts[0] && text != texts[1] ? 1 : 0;
    }
  });
  for (int i = 0; i < 3000; ++i) {
    const std::string& text = texts[i % 2];
    while (!MailboxEmpty(area)) std::this_thread::yield();
    PutMailboxCommand(area, text);
    // Withdrawn at once, a little later, or after a pause that lets the box win.
    for (int spin = (i % 16) * 20; spin > 0 && flag.load(std::memory_order_relaxed) == text[0]; --spin) {
      if (i % 4 == 0) std::this_thread::yield();
    }
    if (!WithdrawMailboxCommand(area, text[0])) ++taken;
  }
  while (!MailboxEmpty(area)) std::this_thread::yield();
  done.store(true);
  box.join();
  EXPECT_EQ(runs, taken);
  EXPECT_EQ(torn, 0);
  EXPECT_GT(taken, 0);
}

TEST(WebMailbox, ABurstGoesThroughOneAtATimeInOrder) {
  FakeBox box(5ms);
  box.SetTaking(false);
  box.Start();
  MailboxTiming t = Quick();
  t.take = 5s;
  MailboxQueue queue(box.Access(), 16, t);
  queue.Start();
  std::vector<std::future<MailboxOutcome>> sends;
  std::vector<std::string> texts;
  for (size_t i = 0; i < 12; ++i) {
    texts.push_back("{\"n\":\"" + std::to_string(i) + "\"}");
    sends.push_back(std::async(std::launch::async, [&queue, text = texts.back()] { return queue.Send(text); }));
    // Queued in this order before the box starts taking.
    for (int wait = 0; wait < 2000 && queue.Waiting() < i + 1; ++wait) std::this_thread::sleep_for(1ms);
  }
  box.SetTaking(true);
  for (auto& s : sends) EXPECT_EQ(s.get(), MailboxOutcome::kTaken);
  EXPECT_EQ(box.Taken(), texts);
  EXPECT_EQ(box.overwrites_, 0);
  EXPECT_EQ(queue.Waiting(), 0u);
}

TEST(WebMailbox, AFullQueueRefusesAtOnceAndStopAnswersTheWaiting) {
  FakeBox box(5ms);
  box.SetTaking(false);
  box.Start();
  MailboxTiming slow = Quick();
  slow.take = 10s;
  MailboxQueue queue(box.Access(), 2, slow);
  queue.Start();
  std::vector<std::future<MailboxOutcome>> sends;
  auto send = [&](int i) {
    sends.push_back(std::async(std::launch::async, [&queue, i] { return queue.Send("{\"n\":" + std::to_string(i) + "}"); }));
  };
  send(0);
  for (int i = 0; i < 2000 && MailboxEmpty(box.Area()); ++i) std::this_thread::sleep_for(1ms);
  send(1);
  send(2);
  // One in the mailbox, two queued behind it: the fourth is refused without waiting.
  for (int i = 0; i < 2000 && queue.Waiting() < 3; ++i) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(queue.Waiting(), 3u);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(queue.Send("{\"n\":3}"), MailboxOutcome::kQueueFull);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  queue.Stop();
  for (auto& s : sends) EXPECT_EQ(s.get(), MailboxOutcome::kStopped);
  // What was in the mailbox when vb-web stopped is taken back.
  EXPECT_TRUE(MailboxEmpty(box.Area()));
  EXPECT_EQ(queue.Send("{}"), MailboxOutcome::kStopped);
}

TEST(WebMailbox, ACommandTheBoxDoesNotTakeIsWithdrawnAndTheNextGoesOn) {
  FakeBox box(5ms);
  box.SetTaking(false);
  box.Start();
  MailboxQueue queue(box.Access(), 4, Quick());
  queue.Start();
  EXPECT_EQ(queue.Send("{\"cmd\":\"record\"}"), MailboxOutcome::kNotTaken);
  EXPECT_TRUE(MailboxEmpty(box.Area()));
  box.SetTaking(true);
  EXPECT_EQ(queue.Send("{\"cmd\":\"iso\"}"), MailboxOutcome::kTaken);
  EXPECT_EQ(box.Taken(), std::vector<std::string>{"{\"cmd\":\"iso\"}"});
}

TEST(WebMailbox, AnotherWritersCommandIsWaitedForAndNeverTouched) {
  FakeBox box(5ms);
  box.SetTaking(false);
  box.Start();
  PutMailboxCommand(box.Area(), "{\"cmd\":\"theirs\"}");
  MailboxTiming t = Quick();
  t.deadline = 200ms;
  MailboxQueue queue(box.Access(), 4, t);
  queue.Start();
  EXPECT_EQ(queue.Send("{\"cmd\":\"ours\"}"), MailboxOutcome::kBusy);
  EXPECT_STREQ(box.Area(), "{\"cmd\":\"theirs\"}");
  // Once the box takes theirs, ours follows.
  box.SetTaking(true);
  EXPECT_EQ(queue.Send("{\"cmd\":\"ours\"}"), MailboxOutcome::kTaken);
  EXPECT_EQ(box.Taken(), (std::vector<std::string>{"{\"cmd\":\"theirs\"}", "{\"cmd\":\"ours\"}"}));
}

TEST(WebMailbox, CommandsThatWaitedTooLongAreNeverWritten) {
  FakeBox box(5ms);
  box.SetTaking(false);
  box.Start();
  MailboxTiming t = Quick();
  t.take = 400ms;
  t.deadline = 100ms;
  MailboxQueue queue(box.Access(), 4, t);
  queue.Start();
  auto first = std::async(std::launch::async, [&] { return queue.Send("{\"n\":\"1\"}"); });
  for (int i = 0; i < 2000 && queue.Waiting() < 1; ++i) std::this_thread::sleep_for(1ms);
  auto second = std::async(std::launch::async, [&] { return queue.Send("{\"n\":\"2\"}"); });
  EXPECT_EQ(first.get(), MailboxOutcome::kNotTaken);
  EXPECT_EQ(second.get(), MailboxOutcome::kExpired);
  box.SetTaking(true);
  std::this_thread::sleep_for(30ms);
  EXPECT_TRUE(box.Taken().empty());
}

TEST(WebMailbox, NoRecordNoCommand) {
  FakeBox box(5ms);
  box.mapped_ = false;
  MailboxQueue queue(box.Access(), 4, Quick());
  queue.Start();
  EXPECT_EQ(queue.Send("{\"cmd\":\"iso\"}"), MailboxOutcome::kNoMailbox);
}

}  // namespace
