// The box's entries in the systemd journal (written by the daemon and by
// vb-web, platform/event_journal.h), read back for the page: matched on the
// project's own VB_EVENT field, each as one JSON object with its time,
// event, source, command, detail and repeat count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kRecentEvents = 100;
// A download stops here (JSON lines of a few hundred bytes each).
constexpr size_t kMostDownloadedEvents = 200000;

// The newest count entries, oldest first, as one JSON array.
bool RecentEventsJson(size_t count, std::string* json, std::string* error);

// The entries written from since_us to until_us (microseconds of the wall
// clock, both included), one JSON object a line, at most max_lines.
bool EventLines(uint64_t since_us, uint64_t until_us, size_t max_lines, std::string* lines, std::string* error);
