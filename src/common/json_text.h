// Texts placed inside the JSON texts that the box and its tools build: escaping,
// and cutting a text to a byte budget without splitting an escape or a UTF-8
// character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Bytes that the escaped form of text takes (quote, backslash and control
// characters are escaped; everything else is copied).
size_t JsonEscapedLength(std::string_view text);

void AppendJsonEscaped(std::string* out, std::string_view text);

// The longest prefix of text (in raw bytes) whose escaped form fits in budget,
// ending on a whole UTF-8 character.
size_t JsonPrefixFitting(std::string_view text, size_t budget);
