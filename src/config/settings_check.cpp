#include "config/settings_check.h"

#include <zlib.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "config/settings_lines.h"

namespace {

constexpr char kCheckFormat[] = "# check: %zu bytes, crc32 %08" PRIx32;

uint32_t Crc32(std::string_view text) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (!text.empty()) {
    const uInt piece = text.size() > 1u << 30 ? 1u << 30 : static_cast<uInt>(text.size());
    crc = crc32(crc, reinterpret_cast<const Bytef*>(text.data()), piece);
    text.remove_prefix(piece);
  }
  return static_cast<uint32_t>(crc);
}

std::string CheckLineFor(std::string_view text) {
  const std::string lf = WithLfLineEnds(text);
  char line[64];
  snprintf(line, sizeof line, kCheckFormat, lf.size(), Crc32(lf));
  return line;
}

std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The text ends in a check line that matches what stands before it.
bool EndsInMatchingCheckLine(std::string_view text) {
  if (text.empty() || text.back() != '\n') return false;
  const size_t before_end = text.rfind('\n', text.size() - 2);
  const size_t start = before_end == std::string_view::npos ? 0 : before_end + 1;
  const std::string_view last = WithoutLineEnd(text.substr(start));
  return last == CheckLineFor(text.substr(0, start));
}

// A line that is neither blank, a comment, a section, a continuation (it
// starts with white space) nor a key line: a piece of a line.
bool IsFragment(std::string_view line) {
  line = WithoutLineEnd(line);
  if (line.empty() || line[0] == ' ' || line[0] == '\t') return false;
  if (line[0] == '#' || line[0] == ';' || line[0] == '[') return false;
  return line.find_first_of("=:") == std::string_view::npos;
}

// Why the text is not whole, or nullptr when it is; *line names the line concerned.
// A text about the whole file starts with "it", one about a line with a verb.
const char* WhyNotWhole(std::string_view text, int* line) {
  if (text.empty()) return "it is empty";
  if (text.find('\0') != std::string_view::npos) return "it holds NUL bytes";
  if (text.find("\xFF\xFF") != std::string_view::npos) {
    return "it holds a run of 0xFF bytes, as a card shows of sectors never written";
  }
  if (text.back() != '\n') return "its last line has no line end: it was cut short";
  int number = 0;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    ++number;
    if (IsFragment(text.substr(start, end - start + 1))) {
      *line = number;
      return "is only a piece of a line";
    }
    start = end + 1;
  }
  return nullptr;
}

}  // namespace

SettingsVerdict CheckSettingsText(std::string_view text) {
  SettingsVerdict verdict{SettingsShape::kDamaged, CountConfigurationKeys(text)};
  if (EndsInMatchingCheckLine(text)) {
    verdict.shape = SettingsShape::kChecked;
  } else if ((verdict.damage = WhyNotWhole(text, &verdict.damage_line)) == nullptr) {
    verdict.shape = SettingsShape::kEdited;
  }
  return verdict;
}

void AppendCheckLine(std::string* text, const char* eol) {
  if (!text->empty() && text->back() != '\n') text->append(eol);  // the check line is a line of its own
  text->append(CheckLineFor(*text)).append(eol);
}

std::string WithLfLineEnds(std::string_view text) {
  std::string lf;
  lf.reserve(text.size());
  for (const char c : text) {
    // Every CR before a line feed goes, so that a copy checks as its original.
    if (c == '\n') {
      while (!lf.empty() && lf.back() == '\r') lf.pop_back();
    }
    lf.push_back(c);
  }
  return lf;
}

const char* SettingsShapeName(SettingsShape shape) {
  switch (shape) {
    case SettingsShape::kChecked:
      return "whole";
    case SettingsShape::kEdited:
      return "edited by hand";
    case SettingsShape::kDamaged:
      break;
  }
  return "damaged";
}
