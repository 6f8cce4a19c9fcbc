// Who did what, for the crew: every command with its source, viewers joining
// and leaving, camera and video link changes and every save, as structured
// entries in the systemd journal (at priority info, with the fields below),
// or as one line each on standard error when the process's standard error is
// not the journal's.
//
// Any thread may note an event, also the camera receive thread, the video
// path and the RC loop: noting copies it into a bounded queue and hands the
// writing to a worker, so no caller waits on the journal. Texts from peers
// are written escaped, passwords masked; an event like one written less than
// a second before (same kind, source, command and member) is counted and
// told with the next one written, so a flood costs one entry a second.
//
// Fields: VB_EVENT (one of the names below), VB_SOURCE ("viewer ADDRESS:PORT",
// "mailbox", "rc", "camera", "video", "settings", "web ADDRESS"), VB_COMMAND
// (a command's JSON text, escaped and masked), VB_DETAIL, VB_REPEATED (like
// events not written since the last one), MESSAGE, PRIORITY=6,
// SYSLOG_IDENTIFIER.
#pragma once

#include <cstdint>
#include <string>

enum class JournalEvent : uint8_t {
  kCommand,       // "command"
  kViewerJoined,  // "viewer-joined"
  kViewerLeft,    // "viewer-left"
  kCameraLink,    // "camera-link": VB_DETAIL up or down
  kVideoLink,     // "video-link": VB_DETAIL up or down
  kSave,          // "save": VB_DETAIL saved, failed (why) or refused
  kAccess,        // "access": the web page's PIN and sessions
};
constexpr int kJournalEventCount = 7;

// The VB_EVENT value of event.
const char* JournalEventName(JournalEvent event);

constexpr int kJournalSourceSize = 40;
constexpr int kJournalTextSize = 256;

// "viewer ADDRESS:PORT", ready to be noted as a source.
struct JournalSource {
  char text[kJournalSourceSize];
};
JournalSource ViewerSource(const char* address, uint32_t port);

// A command text received from source (a peer's text: escaped and masked
// when written, never as it came).
void NoteCommand(const char* source, const char* text, int length);
// An event with a detail the daemon itself words (a fixed text, an address).
void NoteEvent(JournalEvent event, const char* source, const char* detail);

// Writes what is queued (the worker the noting posts, and the watchdog's
// pass for counts of repeats still untold).
void FlushEventJournal();

// The command text as written: compact JSON with the values of password
// members masked, or a note of its length when it is no JSON object.
std::string MaskedCommand(const char* text, int length);

// Where entries go: decided from JOURNAL_STREAM at the first entry, or set
// (unit tests keep their standard error to what they check).
enum class EventOutput : uint8_t { kUndecided, kJournal, kStandardError, kNowhere };
void SetEventOutput(EventOutput output);
