// What vb-web accepts as a command from the page before it goes into the
// box's command mailbox: one JSON object of text members, short enough for the
// mailbox, whose texts that end up in the settings file can be held there.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The mailbox holds one NUL-terminated text in 512 bytes.
constexpr size_t kMaxCommandText = 511;
// A request body may carry blanks the compact text drops, but not much more.
constexpr size_t kMaxRequestBody = 2048;

struct CheckedCommand {
  int status = 400;      // 200 when accepted, else the HTTP status to answer
  std::string error;     // for the page, when refused
  std::string text;      // the compact command text for the mailbox
  bool settings = false; // "updateparam": the page wants the box's report after it
  bool report = false;   // "configrequest"
  bool keeps_password = false;  // a settings change that leaves a password out: the box's current one is kept
};

// Checks one request body: a JSON object whose members are all texts without
// control characters, no member twice (names compared without regard to case,
// as the box reads them), a non-empty "cmd", settings texts the file can hold,
// and a compact text the mailbox can hold. A password member left out of a
// settings change means "keep the current one" (the page never learns it).
CheckedCommand CheckCommand(std::string_view body);

// The settings text table as JSON, for the page's own checks.
std::string SettingsTextsJson();
