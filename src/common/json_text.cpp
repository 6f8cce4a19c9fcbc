#include "common/json_text.h"

#include <cstdint>
#include <cstdio>

namespace {

size_t EscapedSize(unsigned char c) {
  switch (c) {
    case '"': case '\\': case '\b': case '\f': case '\n': case '\r': case '\t':
      return 2;
    default:
      return c < 0x20 ? 6 : 1;
  }
}

// Moves n back so that text[0, n) does not end inside a multi-byte character.
size_t BackOffPartialCharacter(std::string_view text, size_t n) {
  if (n == 0) return 0;
  size_t start = n;
  for (int seen = 0; start > 0 && seen < 4; ++seen) {
    --start;
    if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80) break;
  }
  unsigned char first = static_cast<unsigned char>(text[start]);
  if ((first & 0xC0) == 0x80) return n;  // no lead byte: not UTF-8, keep the bytes
  size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
  return start + length > n ? start : n;
}

}  // namespace

size_t JsonEscapedLength(std::string_view text) {
  size_t length = 0;
  for (char c : text) length += EscapedSize(static_cast<unsigned char>(c));
  return length;
}

void AppendJsonEscaped(std::string* out, std::string_view text) {
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\b': out->append("\\b"); break;
      case '\f': out->append("\\f"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default:
        if (c < 0x20) {
          char escape[8];
          snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out->append(escape);
        } else {
          out->push_back(ch);
        }
    }
  }
}

size_t JsonPrefixFitting(std::string_view text, size_t budget) {
  size_t used = 0;
  size_t n = 0;
  while (n < text.size()) {
    size_t size = EscapedSize(static_cast<unsigned char>(text[n]));
    if (used + size > budget) break;
    used += size;
    ++n;
  }
  if (n == text.size()) return n;
  return BackOffPartialCharacter(text, n);
}
