// Box-level JSON commands: configuration report, Wi-Fi scan, reboot, restart,
// shutdown, RC receiver maintenance and parameter updates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Acts on the box-level commands of one JSON text and ignores everything else
// (the camera dispatcher gets the same text next). May end the process: exit
// code 3 for "restart", 2 after a change of the camera mode settings.
void HandleAppCommand(const char* text, int length);

// The members of one command. A member that is missing or not a JSON string
// reads as the empty text; member names are matched without regard to case.
struct AppCommand {
  const char* cmd;
  const char* name;
  const char* param;
  const char* value[13];  // value[1] is "value", value[2] "value2" ... value[12]
  int value_true;         // value is "1" or "true"
  int value2_true;
};

// The "updateparam" table, by command.name.
// Returns the exit code the change asks for (2 for the camera mode settings), else 0.
int ApplyParameterUpdate(const AppCommand& command);

// Wi-Fi scan for "wlan"/"scan": selector "0" does nothing, "1" scans wifi0,
// "2" wlan0, anything else an empty interface name; the reply goes to every
// viewer.
void RunWifiScan(const char* selector);

// The SSID of one line of scan output, when the line holds "ESSID:"; the
// surrounding quotes and the line end are removed.
bool ExtractSsid(const char* line, std::string* ssid);

// {"cmd":"wlanscan","param":...,"value":...} with the SSIDs joined by ",",
// escaped, and cut after the last whole SSID that fits one data message.
std::string BuildWifiScanReply(const char* selector, const std::vector<std::string>& ssids);
