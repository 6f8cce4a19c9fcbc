// Slow work handed off by the threads that must never wait (the receive
// threads, the mailbox, the RC loop): at most kMaxWorkers threads behind a
// bounded queue, so a flood of commands costs queue slots, never threads.
#pragma once

#include <cstdint>

constexpr int kMaxWorkers = 16;
constexpr int kWorkQueueSize = 64;
constexpr int kWorkTextSize = 256;

// One piece of work: run is called on a worker with the item itself, whose
// text (NUL-terminated, length bytes) was copied when it was posted. sender
// says who asked for the work, in whatever terms the poster and run agree on
// (0: nobody in particular).
struct WorkItem {
  void (*run)(const WorkItem& item);
  uint64_t sender = 0;
  int length = 0;
  char text[kWorkTextSize];
};

// Queues item; a worker is started for it when none is idle and fewer than
// kMaxWorkers run. False when the queue is full: the item is dropped.
bool PostWork(const WorkItem& item);

// Queues internal work (a save, a restart of a sibling program) in a lane of
// its own that workers serve first, so a flood of commands never crowds it
// out. Work already waiting in the lane is not queued twice: it has not
// started, so one run covers both requests. False only when the lane is full.
bool PostInternalWork(void (*run)());

// Returns once every queued item has finished (tests).
void WaitForIdleWorkers();
