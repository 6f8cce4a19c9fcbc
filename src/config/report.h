// The configuration report: one JSON object with the settings, a few status
// values, the version and the IPv4 interface list.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "records/shared_config.h"

// Builds the report of the current record and the system's interfaces into
// out (capacity cap) and returns its length. The text is always valid JSON and
// at most one data message long.
int BuildConfigReport(char* out, size_t cap);

struct InterfaceAddress {
  std::string name;
  std::string addr;  // dotted numeric IPv4
};

// The IPv4 addresses of the system in getifaddrs order, "lo" left out.
std::vector<InterfaceAddress> ListInterfaceAddresses();

// The report for a given record and interface list. When it would not fit in
// min(cap - 1, one data message), the interface list is shortened from its end
// first, then the longest texts are cut (never inside an escape).
int FormatConfigReport(const SharedConfig& config, const std::vector<InterfaceAddress>& ifaces,
                       char* out, size_t cap);
