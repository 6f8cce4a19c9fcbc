#include "platform/worker_pool.h"

#include <pthread.h>

namespace {

constexpr int kInternalLaneSize = 16;

// All of it guarded by g_mutex: posted by any thread, taken by the workers.
// Plain pthread objects: they need no destructor, which would wait for the
// workers at the process's exit.
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_work_ready = PTHREAD_COND_INITIALIZER;
pthread_cond_t g_internal_ready = PTHREAD_COND_INITIALIZER;
pthread_cond_t g_all_done = PTHREAD_COND_INITIALIZER;
WorkItem g_queue[kWorkQueueSize];
int g_queue_head = 0;
int g_queue_count = 0;
int g_workers = 0;
int g_idle_workers = 0;

// The internal lane: functions waiting in the order they were posted, and
// those running, each on a worker of the lane's own.
void (*g_internal[kInternalLaneSize])() = {};
int g_internal_count = 0;
void (*g_internal_running[kMaxInternalWorkers])() = {};
int g_internal_workers = 0;
int g_idle_internal_workers = 0;
int g_busy = 0;  // workers of either kind running something

bool RunningLocked(void (*run)()) {
  for (void (*running)() : g_internal_running) {
    if (running == run) return true;
  }
  return false;
}

// The first waiting function not already running (-1: none).
int NextInternalLocked() {
  for (int i = 0; i < g_internal_count; ++i) {
    if (!RunningLocked(g_internal[i])) return i;
  }
  return -1;
}

int RunnableInternalLocked() {
  int runnable = 0;
  for (int i = 0; i < g_internal_count; ++i) runnable += RunningLocked(g_internal[i]) ? 0 : 1;
  return runnable;
}

void FinishedLocked() {
  --g_busy;
  if (g_busy == 0 && g_queue_count == 0 && g_internal_count == 0) pthread_cond_broadcast(&g_all_done);
}

void* RunWorker(void*) {
  pthread_setname_np(pthread_self(), "cmd-worker");
  pthread_mutex_lock(&g_mutex);
  for (;;) {
    ++g_idle_workers;
    while (g_queue_count == 0) pthread_cond_wait(&g_work_ready, &g_mutex);
    --g_idle_workers;
    ++g_busy;
    // Copied out so the slot is free while the work runs.
    const WorkItem item = g_queue[g_queue_head];
    g_queue_head = (g_queue_head + 1) % kWorkQueueSize;
    --g_queue_count;
    pthread_mutex_unlock(&g_mutex);
    item.run(item);
    pthread_mutex_lock(&g_mutex);
    FinishedLocked();
  }
  return nullptr;
}

void* RunInternalWorker(void*) {
  pthread_setname_np(pthread_self(), "box-worker");
  pthread_mutex_lock(&g_mutex);
  for (;;) {
    ++g_idle_internal_workers;
    int next;
    while ((next = NextInternalLocked()) < 0) pthread_cond_wait(&g_internal_ready, &g_mutex);
    --g_idle_internal_workers;
    ++g_busy;
    void (*run)() = g_internal[next];
    for (int i = next + 1; i < g_internal_count; ++i) g_internal[i - 1] = g_internal[i];
    --g_internal_count;
    int slot = 0;
    while (g_internal_running[slot] != nullptr) ++slot;  // one free per worker
    g_internal_running[slot] = run;
    pthread_mutex_unlock(&g_mutex);
    run();
    pthread_mutex_lock(&g_mutex);
    g_internal_running[slot] = nullptr;
    // Posted again while it ran: it waits for a worker now.
    if (NextInternalLocked() >= 0) pthread_cond_signal(&g_internal_ready);
    FinishedLocked();
  }
  return nullptr;
}

// Called with g_mutex held, after work was queued. Idle workers leave the
// count only once they wake, so each waiting item is matched against them.
void StartWorkerLocked(void* (*body)(void*), int* workers) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, body, nullptr) == 0) {
    pthread_detach(thread);
    ++*workers;
  }
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
  if (g_queue_count > g_idle_workers && g_workers < kMaxWorkers) StartWorkerLocked(RunWorker, &g_workers);
  pthread_cond_signal(&g_work_ready);
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
      if (RunnableInternalLocked() > g_idle_internal_workers && g_internal_workers < kMaxInternalWorkers) {
        StartWorkerLocked(RunInternalWorker, &g_internal_workers);
      }
      pthread_cond_signal(&g_internal_ready);
    }
  }
  pthread_mutex_unlock(&g_mutex);
  return queued;
}

void WaitForIdleWorkers() {
  pthread_mutex_lock(&g_mutex);
  while (g_busy != 0 || g_queue_count != 0 || g_internal_count != 0) pthread_cond_wait(&g_all_done, &g_mutex);
  pthread_mutex_unlock(&g_mutex);
}
