#include "host_names.h"

#include <arpa/inet.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <climits>

#include "platform/connected_networks.h"

namespace {

constexpr size_t kMaxHostName = 253;

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

bool IsValidHostName(std::string_view name) {
  if (name.empty() || name.size() > kMaxHostName) return false;
  for (unsigned char c : name) {
    if (!std::isalnum(c) && c != '-' && c != '.') return false;
  }
  return true;
}

bool HostNamesTheBox(const char* header, const std::vector<std::string>& extra_names) {
  if (!header) return false;
  std::string_view host(header);
  const size_t colon = host.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view port = host.substr(colon + 1);
    if (port.empty() || port.size() > 5) return false;
    for (char c : port) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    host = host.substr(0, colon);
  }
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);  // the fully qualified form
  if (!IsValidHostName(host)) return false;

  const std::string text(host);
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) == 1) return IsOwnAddress(address.s_addr);
  if (SameName(host, "localhost")) return true;
  // Read each time: the host name can be changed while vb-web runs.
  char own[HOST_NAME_MAX + 1] = {};
  if (gethostname(own, sizeof own - 1) == 0 && own[0] != '\0') {
    const std::string_view name(own);
    if (SameName(host, name)) return true;
    if (host.size() == name.size() + 6 && SameName(host.substr(0, name.size()), name) &&
        SameName(host.substr(name.size()), ".local")) {
      return true;
    }
  }
  for (const std::string& extra : extra_names) {
    if (SameName(host, extra)) return true;
  }
  return false;
}
