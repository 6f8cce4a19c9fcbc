// The Wi-Fi scan: the SSIDs that "iwlist" reports, sent to every viewer as one
// JSON reply.
#pragma once

#include <string>
#include <vector>

// For "wlan"/"scan": selector "0" does nothing, "1" scans wifi0, "2" wlan0,
// anything else an empty interface name; the reply goes to every viewer.
void ScanWifi(const char* selector);

// The SSID of one line of scan output, when the line holds "ESSID:"; the
// surrounding quotes and the line end are removed.
bool ExtractSsid(const char* line, std::string* ssid);

// {"cmd":"wlanscan","param":...,"value":...} with the SSIDs joined by ",",
// escaped, and cut after the last whole SSID that fits one data message.
std::string BuildWifiScanReply(const char* selector, const std::vector<std::string>& ssids);
