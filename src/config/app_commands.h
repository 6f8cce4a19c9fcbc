// Box-level JSON commands: configuration report, Wi-Fi scan, reboot, restart,
// shutdown, RC receiver maintenance, parameter updates and the restore of a
// settings file. The command
// vocabulary routes each by its "cmd"; each returns the exit code it asks of
// the launcher (3 for "restart", 2 after a change of the camera mode
// settings), else 0.
#pragma once

#include "config/app_command.h"

int OnConfigRequest(const AppCommand& command);
int OnWlanCommand(const AppCommand& command);
int OnReboot(const AppCommand& command);
int OnRestart(const AppCommand& command);
int OnShutdown(const AppCommand& command);
int OnRcCommand(const AppCommand& command);
int OnUpdateParam(const AppCommand& command);
int OnRestore(const AppCommand& command);
