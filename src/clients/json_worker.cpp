// JSON commands from viewers run on the bounded worker pool, so the receive
// thread goes on with the next datagram at once and a flood of commands costs
// queue slots, never threads.
#include "clients/json_worker.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "commands/dispatcher.h"
#include "config/app_commands.h"
#include "platform/log.h"
#include "platform/worker_pool.h"

namespace {

constexpr int kMaxJsonCommand = 255;
static_assert(kMaxJsonCommand < kWorkTextSize);

void HandleQueuedCommand(const WorkItem& item) {
  // Both handlers see every command; each acts on its own vocabulary.
  HandleAppCommand(item.text, item.length);
  DispatchCameraCommand(item.text, item.length, item.sender);
}

// While commands are being dropped, one line a second says so.
void NoteDroppedCommand() {
  static std::atomic<int64_t> last_log_ms{INT64_MIN};
  const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch()).count();
  int64_t last = last_log_ms.load(std::memory_order_relaxed);
  if (last != INT64_MIN && now - last < 1000) return;
  if (last_log_ms.compare_exchange_strong(last, now, std::memory_order_relaxed)) {
    LogWarning("too many commands waiting: JSON commands dropped\n");
  }
}

}  // namespace

void PostJsonCommand(const uint8_t* payload, int length, MotionDriver sender) {
  if (payload == nullptr || length < 1) return;
  int n = 0;
  while (n < length && n < kMaxJsonCommand && payload[n] != 0) ++n;
  if (n == 0) return;
  // The queue keeps its own copy: the receive buffer is reused for the next datagram.
  WorkItem item;
  item.run = HandleQueuedCommand;
  item.sender = sender;
  item.length = n;
  std::memcpy(item.text, payload, static_cast<size_t>(n));
  item.text[n] = '\0';
  if (!PostWork(item)) NoteDroppedCommand();
}
