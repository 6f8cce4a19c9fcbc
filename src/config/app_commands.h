// Box-level JSON commands: configuration report, Wi-Fi scan, reboot, restart,
// shutdown, RC receiver maintenance and parameter updates.
#pragma once

void HandleAppCommand(const char* text, int length);
