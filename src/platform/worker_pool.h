// Slow work handed off by the threads that must never wait (the receive
// threads, the mailbox, the RC loop): viewers' commands on at most kMaxWorkers
// threads behind a bounded queue, so a flood of commands costs queue slots,
// never threads; the box's own work on workers of its own, so it never waits
// for a viewer's command to end.
#pragma once

#include <cstdint>

constexpr int kMaxWorkers = 16;
constexpr int kMaxInternalWorkers = 4;
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

// Queues internal work (a save, a restart of a sibling program, the RC's
// key sequences) in a lane of its own, served in order by up to
// kMaxInternalWorkers workers that take nothing else: however many viewer
// commands hang, it starts at once. Work already waiting in the lane is not
// queued twice: it has not started, so one run covers both requests. A
// function runs on one worker at a time (posted while it runs, it runs again
// after), so a hung run of one kind never takes a second worker. False only
// when the lane is full.
bool PostInternalWork(void (*run)());

// Returns once every queued item has finished (tests).
void WaitForIdleWorkers();
