// The command vocabulary: one table of every command word the box takes, the
// camera's and the box's own, saying what each word does, which members and
// values it takes and which route runs it. Tools print it and build command
// texts from it by name.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "commands/camera_command.h"
#include "config/app_command.h"

// What runs a box-level command; returns the exit code it asks of the
// launcher, else 0.
using BoxRoute = int (*)(const AppCommand&);

// The index-th text a member takes, nullptr past the last: read from the very
// table that accepts the member.
using ChoiceList = const char* (*)(size_t index);

// Where a word's texts go: the camera's words take "param", "value1" and
// "value2"; the box's own "name" or "param", "value" and "value2".
struct CommandMembers {
  const char* param;
  const char* value1;
  const char* value2;
};
inline constexpr CommandMembers kCameraMembers = {"param", "value1", "value2"};
inline constexpr CommandMembers kBoxMembers = {"name", "value", "value2"};
inline constexpr CommandMembers kBoxParamMembers = {"param", "value", "value2"};

struct CommandWord {
  const char* name;         // "cmd" or "cmd/param": how a tool picks the command
  const char* cmd;
  const char* param = nullptr;        // fixed param text, or nullptr when the caller gives it
  const char* param_hint = nullptr;   // what a caller-given param holds, where no table lists it
  const char* value1_hint = nullptr;  // likewise for value1 (nullptr and no choices: not used)
  const char* value2_hint = nullptr;  // nullptr: value2 not used
  const char* description;
  CommandRoute route = nullptr;  // a camera word's route
  // Where a table accepts the param or value1 only as one of its texts: the
  // listing shows them instead of a hint.
  ChoiceList param_choice = nullptr;
  ChoiceList value1_choice = nullptr;
  BoxRoute box_route = nullptr;  // a box word's route, instead of route
  const CommandMembers* members = &kCameraMembers;
};

// The whole vocabulary, words of one cmd next to each other.
const CommandWord* CommandVocabulary(size_t* count);

// The word of that name, or nullptr.
const CommandWord* FindCommandWord(const char* name);

// The first word of a command group, whose route runs the group; nullptr when
// cmd names none.
const CommandWord* FindCommandGroup(const char* cmd);

// Whether the caller gives the param (not fixed by the word), value1, value2.
bool TakesParam(const CommandWord& word);
bool TakesValue1(const CommandWord& word);
bool TakesValue2(const CommandWord& word);

// What a caller-given param or value1 holds: its choices joined by '|', or the hint.
std::string CommandParamHint(const CommandWord& word);
std::string CommandValue1Hint(const CommandWord& word);

// Writes the JSON command text for a word, in the word's members: param from
// the word when it is fixed, else the given one; value1/value2 only when the
// word takes them and they are given. Texts are escaped. Returns the text
// length, or 0 when a needed param is missing or the text does not fit in
// capacity.
size_t BuildCommandText(const CommandWord& word, const char* param, const char* value1, const char* value2,
                        char* out, size_t capacity);

// One line per word: name, values and description.
void PrintCommandVocabulary(FILE* out);
