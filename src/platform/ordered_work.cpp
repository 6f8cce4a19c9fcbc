#include "platform/ordered_work.h"

#include <mutex>

#include "platform/worker_pool.h"

namespace {

std::mutex g_queue_mutex;
void (*g_queue[kOrderedWorkQueueSize])() = {};  // guarded by g_queue_mutex
int g_head = 0;
int g_count = 0;

// Runs on one worker at a time: the pool never runs a function of its lane on
// two workers at once, so pieces never overlap or overtake.
void DrainWaitingPieces() {
  for (;;) {
    void (*run)() = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_queue_mutex);
      if (g_count == 0) return;
      run = g_queue[g_head];
      g_head = (g_head + 1) % kOrderedWorkQueueSize;
      --g_count;
    }
    run();
  }
}

}  // namespace

bool PostOrderedWork(void (*run)()) {
  {
    std::lock_guard<std::mutex> lock(g_queue_mutex);
    const bool repeat = g_count > 0 && g_queue[(g_head + g_count - 1) % kOrderedWorkQueueSize] == run;
    if (!repeat) {
      if (g_count == kOrderedWorkQueueSize) return false;
      g_queue[(g_head + g_count) % kOrderedWorkQueueSize] = run;
      ++g_count;
    }
  }
  // A runner already waiting in the pool's lane takes this piece too.
  PostInternalWork(DrainWaitingPieces);
  return true;
}
