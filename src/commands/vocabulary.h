// The camera command vocabulary: one table of command words saying what each
// word does, which values it takes and where the dispatcher routes it. Tools
// print it and build command texts from it by name.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "commands/camera_command.h"

struct CameraCommandWord {
  const char* name;         // "cmd" or "cmd/param": how a tool picks the command
  const char* cmd;
  const char* param;        // fixed param text, or nullptr when the caller gives it
  const char* param_hint;   // what a caller-given param holds (nullptr: no param)
  const char* value1_hint;  // nullptr: value1 not used
  const char* value2_hint;  // nullptr: value2 not used
  const char* description;
  CommandRoute route;
  // Where the param is one of the camera's codes: the index-th choice, nullptr
  // past the last. The listing then shows the choices instead of the hint.
  const char* (*param_choice)(size_t index) = nullptr;
};

// The whole vocabulary, words of one cmd next to each other.
const CameraCommandWord* CameraVocabulary(size_t* count);

// The word of that name, or nullptr.
const CameraCommandWord* FindCameraCommandWord(const char* name);

// The route of a command group, or nullptr when cmd names none.
CommandRoute FindCommandRoute(const char* cmd);

// What a word's caller-given param holds: its choices joined by '|', or the hint.
std::string CameraCommandParamHint(const CameraCommandWord& word);

// Writes the JSON command text for a word: param from the word when it is
// fixed, else the given one; value1/value2 only when the word uses them and
// they are given. Texts are escaped. Returns the text length, or 0 when a
// needed param is missing or the text does not fit in capacity.
size_t BuildCameraCommand(const CameraCommandWord& word, const char* param, const char* value1, const char* value2,
                          char* out, size_t capacity);

// One line per word: name, values and description.
void PrintCameraVocabulary(FILE* out);
