#include "platform/log.h"

#include <sys/stat.h>
#include <systemd/sd-daemon.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "platform/clock.h"

namespace {

std::atomic<bool> g_journal{false};

void WriteLine(const char* priority, const char* format, va_list arguments) {
  char line[1024];
  const int prefix = g_journal.load(std::memory_order_relaxed) ? snprintf(line, sizeof line, "%s", priority) : 0;
  vsnprintf(line + prefix, sizeof line - static_cast<size_t>(prefix), format, arguments);
  // One write, so lines of other threads never land inside it.
  fputs(line, stderr);
}

}  // namespace

bool StreamIsJournal(int fd, const char* journal_stream) {
  if (journal_stream == nullptr) return false;
  uintmax_t device = 0;
  uintmax_t inode = 0;
  int used = 0;
  if (sscanf(journal_stream, "%" SCNuMAX ":%" SCNuMAX "%n", &device, &inode, &used) != 2 ||
      journal_stream[used] != '\0') {
    return false;
  }
  struct stat st{};
  return fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

void UseJournalPriorities(bool on) { g_journal.store(on, std::memory_order_relaxed); }

void LogError(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  WriteLine(SD_ERR, format, arguments);
  va_end(arguments);
}

void LogWarning(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  WriteLine(SD_WARNING, format, arguments);
  va_end(arguments);
}

bool RateGatePasses(RateGate* gap, uint32_t gap_ms) {
  const uint32_t now = MillisecondClock();
  if (!gap->opened.exchange(true)) {
    gap->last_ms.store(now, std::memory_order_relaxed);
    return true;
  }
  uint32_t last = gap->last_ms.load(std::memory_order_relaxed);
  if (now - last < gap_ms) return false;
  return gap->last_ms.compare_exchange_strong(last, now, std::memory_order_relaxed);
}
