// Box-level JSON commands: configuration report, Wi-Fi scan, reboot, restart,
// shutdown, RC receiver maintenance and parameter updates.
#pragma once

// Acts on the box-level commands of one JSON text and ignores everything else
// (the camera dispatcher gets the same text next). May end the process: exit
// code 3 for "restart", 2 after a change of the camera mode settings.
void HandleAppCommand(const char* text, int length);
