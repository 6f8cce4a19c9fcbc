// Work that must run one piece at a time and in the order it was asked for
// (key sequences to the camera, with pauses between the keys), handed from
// threads that must never wait to the worker pool.
#pragma once

constexpr int kOrderedWorkQueueSize = 16;

// Queues run behind the pieces already waiting. A piece identical to the last
// one still waiting is not queued again: one run answers both requests. False
// when the queue is full (the piece is dropped).
bool PostOrderedWork(void (*run)());
