// Every shell command line the daemon runs goes through here, so that tests can
// see each one (and, with recording on, keep them from running at all).
//
// No command may hold its caller for ever: each runs in a process group of its
// own and is given kShellDeadlineMs from its start to its end; past that the
// whole group is killed (and that is logged), so a hung mount or script costs
// its caller at most the deadline.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

constexpr int kShellDeadlineMs = 30000;

// As system(): runs the line with /bin/sh and returns its wait status. A
// command killed at the deadline reports death by SIGKILL.
int ExecuteShellCommand(const char* command_line);

// As popen(command_line, "r") and pclose(). Reads see the end of the output at
// the deadline at the latest; the close then reports death by SIGKILL.
FILE* OpenShellOutput(const char* command_line);
int CloseShellOutput(FILE* stream);

// Test seam: with recording on, command lines are logged and not run; a
// command run for its output reads the canned text whose prefix matches the
// line (empty output when none does) and closes with status 0.
void ShellRecordOnly(bool on);
void ShellSetCannedOutput(const std::string& line_prefix, const std::string& output);
std::vector<std::string> ShellTakeLog();

// With recording on, a command whose line starts with line_prefix fails (exit
// status 1) or hangs until the deadline, when it is "killed" like a real one.
enum class ShellFault { kNone, kFail, kHang };
void ShellSetFault(const std::string& line_prefix, ShellFault fault);
void ShellClearFaults();

// Shortens the deadline (0 restores kShellDeadlineMs).
void ShellSetDeadlineForTest(int milliseconds);

// Recorded lines are also written to standard error as they come (a test that
// ends the process reads them from there).
void ShellEchoRecorded(bool on);
