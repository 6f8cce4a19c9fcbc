// The camera command vocabulary as data: what each command word does and which
// values it takes. Tools print it and build command texts from it by name; it
// sits beside the dispatcher so that the two stay in step.
#pragma once

#include <cstddef>
#include <cstdio>

struct CameraCommandWord {
  const char* name;         // "cmd" or "cmd/param": how a tool picks the command
  const char* cmd;
  const char* param;        // fixed param text, or nullptr when the caller gives it
  const char* param_hint;   // what a caller-given param holds (nullptr: no param)
  const char* value1_hint;  // nullptr: value1 not used
  const char* value2_hint;  // nullptr: value2 not used
  const char* description;
};

// The whole vocabulary, in the dispatcher's group order.
const CameraCommandWord* CameraVocabulary(size_t* count);

// The word of that name, or nullptr.
const CameraCommandWord* FindCameraCommandWord(const char* name);

// Writes the JSON command text for a word: param from the word when it is
// fixed, else the given one; value1/value2 only when the word uses them and
// they are given. Texts are escaped. Returns the text length, or 0 when a
// needed param is missing or the text does not fit in capacity.
size_t BuildCameraCommand(const CameraCommandWord& word, const char* param, const char* value1, const char* value2,
                          char* out, size_t capacity);

// One line per word: name, values and description.
void PrintCameraVocabulary(FILE* out);
