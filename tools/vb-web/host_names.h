// The names under which vb-web serves: a browser sends the name it was given
// in the Host header, and a page of another site whose name was re-pointed at
// the box (DNS rebinding) still sends that site's name. So only the box's own
// names are served: an IPv4 literal of one of its interface addresses (read
// live), "localhost", its host name and that name under ".local", and the
// names the operator adds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A name vb-web may be told to answer to as well: letters, digits, "-" and
// ".", at most 253 characters.
bool IsValidHostName(std::string_view name);

// True when the Host header value (with or without ":port") names the box.
bool HostNamesTheBox(const char* host, const std::vector<std::string>& extra_names);
