// Lines to standard error with their priority for the journal. Under systemd,
// standard error is a stream into the journal, which reads a leading "<N>" as
// the line's priority (sd-daemon's SD_ERR, SD_WARNING); anywhere else the
// prefix would be noise, so it is written only when JOURNAL_STREAM names the
// very stream standard error is. Lines without a priority (plain fprintf to
// standard error) are stored at info.
#pragma once

#include <atomic>
#include <cstdint>

// True when journal_stream ("DEVICE:INODE", as systemd sets JOURNAL_STREAM)
// names the file open on fd.
bool StreamIsJournal(int fd, const char* journal_stream);

// Whether LogError and LogWarning prefix their lines; start-up sets it once
// from JOURNAL_STREAM, before any other thread runs.
void UseJournalPriorities(bool on);

// One line (format as printf, ending in "\n") at err or warning priority.
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));

// For lines about a repeated event (and other work done at most so often):
// true at most once per gap_ms, the first call always, whichever thread asks.
struct RateGate {
  std::atomic<bool> opened{false};
  std::atomic<uint32_t> last_ms{0};
};
bool RateGatePasses(RateGate* gap, uint32_t gap_ms);
