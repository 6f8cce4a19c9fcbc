// Telling a settings file written whole from one a power cut tore.
//
// Every file the daemon writes ends in a check line, a comment the loader
// skips like any other: "# check: <length> bytes, crc32 <8 hex digits>", the
// length and CRC-32 of the text before it read with LF line ends, so the CR LF
// file on the boot partition and its LF copies carry the same line. A torn
// file loses the line or no longer matches it.
//
// People edit the file on a PC, and an edited file keeps a stale check line or
// none: a file without a matching check line still counts as whole when every
// line ends with a line feed, it holds no NUL byte and no run of 0xFF (what an
// SD card shows of sectors a cut left unwritten), and no line is a fragment
// (each is blank, a comment, a section, a continuation, or holds "=" or ":").
#pragma once

#include <string>
#include <string_view>

enum class SettingsShape {
  kChecked,  // ends in a check line that matches the text before it
  kEdited,   // no matching check line, but whole
  kDamaged,  // neither: torn, or empty
};

struct SettingsVerdict {
  SettingsShape shape;
  int keys;  // lines that set a key of the file
  // Why a damaged text is, for people reading a refusal ("it is empty", or
  // for a line "is only a piece of a line"); nullptr otherwise.
  const char* damage = nullptr;
  int damage_line = 0;  // the line it concerns, 1 for the first; 0: the whole text
  // Whole and holding settings: a copy worth keeping and loading.
  bool Good() const { return shape != SettingsShape::kDamaged && keys > 0; }
};

SettingsVerdict CheckSettingsText(std::string_view text);

// Appends the check line for the text, ended with eol (and eol before it
// when the text's last line has no line end).
void AppendCheckLine(std::string* text, const char* eol);

// The text with LF line ends: the CRs before each line feed removed.
std::string WithLfLineEnds(std::string_view text);

// Names of the verdicts, for the log.
const char* SettingsShapeName(SettingsShape shape);
