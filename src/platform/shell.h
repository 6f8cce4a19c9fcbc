// Every shell command line the daemon runs goes through here, so that tests can
// see each one (and, with recording on, keep them from running at all).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// As system(): runs the line with /bin/sh and returns its status.
int RunShellCommand(const char* command_line);

// As popen(command_line, "r") and pclose().
FILE* OpenShellOutput(const char* command_line);
int CloseShellOutput(FILE* stream);

// Test seam: with recording on, command lines are logged and not run; a
// command run for its output reads the canned text whose prefix matches the
// line (empty output when none does) and closes with status 0.
void ShellRecordOnly(bool on);
void ShellSetCannedOutput(const std::string& line_prefix, const std::string& output);
std::vector<std::string> ShellTakeLog();
