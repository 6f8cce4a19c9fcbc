// The configuration report: one JSON object with the settings, a few status
// values, the version and the IPv4 interface list.
#pragma once

#include <cstddef>

// Builds the report into out (capacity cap) and returns its length.
int BuildConfigReport(char* out, size_t cap);

// Appends the interface list objects to list (capacity cap, cleared by the caller).
void BuildInterfaceList(char* list, size_t cap);
