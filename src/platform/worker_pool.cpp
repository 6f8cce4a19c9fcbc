#include "platform/worker_pool.h"

#include <pthread.h>

namespace {

constexpr int kInternalLaneSize = 16;

// All of it guarded by g_mutex: posted by any thread, taken by the workers.
// Plain pthread objects: they need no destructor, which would wait for the
// workers at the process's exit.
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_work_ready = PTHREAD_COND_INITIALIZER;
pthread_cond_t g_all_done = PTHREAD_COND_INITIALIZER;
WorkItem g_queue[kWorkQueueSize];
int g_queue_head = 0;
int g_queue_count = 0;
void (*g_internal[kInternalLaneSize])() = {};
int g_internal_count = 0;
int g_workers = 0;
int g_idle_workers = 0;
int g_busy_workers = 0;

void* RunWorker(void*) {
  pthread_setname_np(pthread_self(), "cmd-worker");
  pthread_mutex_lock(&g_mutex);
  for (;;) {
    ++g_idle_workers;
    while (g_internal_count == 0 && g_queue_count == 0) pthread_cond_wait(&g_work_ready, &g_mutex);
    --g_idle_workers;
    ++g_busy_workers;
    if (g_internal_count > 0) {
      void (*run)() = g_internal[0];
      for (int i = 1; i < g_internal_count; ++i) g_internal[i - 1] = g_internal[i];
      --g_internal_count;
      pthread_mutex_unlock(&g_mutex);
      run();
    } else {
      // Copied out so the slot is free while the work runs.
      const WorkItem item = g_queue[g_queue_head];
      g_queue_head = (g_queue_head + 1) % kWorkQueueSize;
      --g_queue_count;
      pthread_mutex_unlock(&g_mutex);
      item.run(item);
    }
    pthread_mutex_lock(&g_mutex);
    --g_busy_workers;
    if (g_busy_workers == 0 && g_queue_count == 0 && g_internal_count == 0) pthread_cond_broadcast(&g_all_done);
  }
  return nullptr;
}

// Called with g_mutex held, after work was queued. Idle workers leave the
// count only once they wake, so each waiting item is matched against them.
void WakeOrStartWorkerLocked() {
  if (g_queue_count + g_internal_count > g_idle_workers && g_workers < kMaxWorkers) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, RunWorker, nullptr) == 0) {
      pthread_detach(thread);
      ++g_workers;
    }
  }
  pthread_cond_signal(&g_work_ready);
}

}  // namespace

bool PostWork(const WorkItem& item) {
  pthread_mutex_lock(&g_mutex);
  if (g_queue_count == kWorkQueueSize) {
    pthread_mutex_unlock(&g_mutex);
    return false;
  }
  WorkItem& slot = g_queue[(g_queue_head + g_queue_count) % kWorkQueueSize];
  slot = item;
  if (slot.length < 0) slot.length = 0;
  if (slot.length > kWorkTextSize - 1) slot.length = kWorkTextSize - 1;
  slot.text[slot.length] = 0;
  ++g_queue_count;
  WakeOrStartWorkerLocked();
  pthread_mutex_unlock(&g_mutex);
  return true;
}

bool PostInternalWork(void (*run)()) {
  pthread_mutex_lock(&g_mutex);
  bool queued = true;
  bool waiting = false;
  for (int i = 0; i < g_internal_count; ++i) waiting = waiting || g_internal[i] == run;
  if (!waiting) {
    if (g_internal_count == kInternalLaneSize) {
      queued = false;
    } else {
      g_internal[g_internal_count++] = run;
      WakeOrStartWorkerLocked();
    }
  }
  pthread_mutex_unlock(&g_mutex);
  return queued;
}

void WaitForIdleWorkers() {
  pthread_mutex_lock(&g_mutex);
  while (g_busy_workers != 0 || g_queue_count != 0 || g_internal_count != 0) pthread_cond_wait(&g_all_done, &g_mutex);
  pthread_mutex_unlock(&g_mutex);
}
