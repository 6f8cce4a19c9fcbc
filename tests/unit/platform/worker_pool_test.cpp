// The worker pool under load: bounded threads, bounded queue, concurrency for
// slow work, and internal work never waiting for the command workers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ordered_work.h"
#include "platform/worker_pool.h"

namespace {

std::mutex g_gate_mutex;
std::condition_variable g_gate_open;
bool g_gate = false;
std::atomic<int> g_blocked{0};
std::atomic<int> g_ran{0};
std::atomic<int> g_internal_runs{0};

void OpenGate(bool open) {
  std::lock_guard<std::mutex> lock(g_gate_mutex);
  g_gate = open;
  g_gate_open.notify_all();
}

void BlockUntilGateOpens(const WorkItem&) {
  ++g_blocked;
  std::unique_lock<std::mutex> lock(g_gate_mutex);
  g_gate_open.wait(lock, [] { return g_gate; });
  --g_blocked;
  ++g_ran;
}

void CountInternalRun() { ++g_internal_runs; }

WorkItem Item(void (*run)(const WorkItem&), const char* text = "") {
  WorkItem item{};
  item.run = run;
  item.length = static_cast<int>(std::strlen(text));
  std::memcpy(item.text, text, static_cast<size_t>(item.length));
  return item;
}

bool WaitFor(bool (*done)()) {
  for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(WorkerPool, FloodIsBoundedAndInternalWorkNeverWaitsForIt) {
  g_ran = 0;
  OpenGate(false);
  // Slow work takes one worker each, up to the limit, and the rest waits in the queue.
  int accepted = 0;
  for (int i = 0; i < 10000; ++i) accepted += PostWork(Item(BlockUntilGateOpens)) ? 1 : 0;
  ASSERT_TRUE(WaitFor([] { return g_blocked.load() == kMaxWorkers; }));
  for (int i = 0; i < 1000; ++i) accepted += PostWork(Item(BlockUntilGateOpens)) ? 1 : 0;  // top up the queue
  EXPECT_EQ(accepted, kMaxWorkers + kWorkQueueSize);

  // Internal work runs while every command worker is held.
  g_internal_runs = 0;
  EXPECT_TRUE(PostInternalWork(CountInternalRun));
  EXPECT_TRUE(WaitFor([] { return g_internal_runs.load() == 1; }));
  OpenGate(true);
  WaitForIdleWorkers();
  EXPECT_EQ(g_ran.load(), accepted);
}

std::atomic<int> g_internal_held{0};
std::atomic<int> g_internal_held_runs{0};

void HoldInternal() {
  ++g_internal_held;
  ++g_internal_held_runs;
  std::unique_lock<std::mutex> lock(g_gate_mutex);
  g_gate_open.wait(lock, [] { return g_gate; });
  --g_internal_held;
}

TEST(WorkerPool, InternalWorkOfOneKindRunsOnOneWorkerAtATime) {
  OpenGate(false);
  g_internal_runs = 0;
  ASSERT_TRUE(PostInternalWork(HoldInternal));
  ASSERT_TRUE(WaitFor([] { return g_internal_held.load() == 1; }));
  // Posted again while it runs: it waits, once, however often it is posted.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(PostInternalWork(HoldInternal));
  EXPECT_TRUE(PostInternalWork(CountInternalRun));  // another kind is not held up
  EXPECT_TRUE(WaitFor([] { return g_internal_runs.load() == 1; }));
  EXPECT_EQ(g_internal_held.load(), 1);
  OpenGate(true);
  WaitForIdleWorkers();
  EXPECT_EQ(g_internal_held_runs.load(), 2);
}

std::atomic<int> g_pieces_running{0};
std::atomic<int> g_overlaps{0};
std::mutex g_order_mutex;
std::vector<int> g_order;

template <int kId>
void Piece() {
  if (g_pieces_running.fetch_add(1) != 0) ++g_overlaps;
  for (int i = 0; i < 3; ++i) std::this_thread::yield();  // room for another to start, were it allowed
  {
    std::lock_guard<std::mutex> lock(g_order_mutex);
    g_order.push_back(kId);
  }
  --g_pieces_running;
}

// Key sequences posted while earlier ones run (as the RC loop posts them) run
// one at a time, each once, in the order posted.
TEST(OrderedWork, PiecesNeverOverlapAndKeepTheirOrder) {
  void (*const pieces[])() = {Piece<0>, Piece<1>, Piece<2>};
  std::vector<int> posted;
  for (int i = 0; posted.size() < 2000; ++i) {
    const int next = static_cast<int>(posted.size() % 3);  // never the same twice in a row
    if (PostOrderedWork(pieces[next])) posted.push_back(next);
    if (i % 8 == 0) std::this_thread::yield();
  }
  WaitForIdleWorkers();
  EXPECT_EQ(g_overlaps.load(), 0);
  std::lock_guard<std::mutex> lock(g_order_mutex);
  EXPECT_EQ(g_order, posted);
}

TEST(WorkerPool, ItemCarriesItsTextCutToTheSlot) {
  static char seen[kWorkTextSize + 8];
  WorkItem item = Item([](const WorkItem& w) { std::memcpy(seen, w.text, sizeof w.text); });
  item.length = kWorkTextSize + 50;  // longer than the slot: cut, still terminated
  std::memset(item.text, 'x', sizeof item.text);
  ASSERT_TRUE(PostWork(item));
  WaitForIdleWorkers();
  EXPECT_EQ(std::strlen(seen), static_cast<size_t>(kWorkTextSize - 1));
}

}  // namespace
