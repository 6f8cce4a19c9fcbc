#include "platform/source_filter.h"

#include <arpa/inet.h>

#include "platform/arrival_interface.h"
#include "platform/connected_networks.h"
#include "platform/log.h"

namespace {

constexpr uint32_t kRefusalLogGapMs = 60000;

bool Refuse(SourceFilter* filter, const sockaddr_in& from, const char* why, const char* where) {
  if (RateGatePasses(&filter->refusals, kRefusalLogGapMs)) {
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
    LogWarning("refused %s datagrams from %s: %s%s\n", filter->what, address, why, where);
  }
  return false;
}

}  // namespace

bool AcceptSource(SourceFilter* filter, const sockaddr_in& from) {
  if (from.sin_family == AF_INET && IsInConnectedNetwork(from.sin_addr.s_addr)) return true;
  return Refuse(filter, from, "outside the connected networks", "");
}

bool AcceptCameraSource(SourceFilter* filter, const sockaddr_in& from, int arrival_interface) {
  if (!IsCameraInterface(arrival_interface)) return Refuse(filter, from, "not on the camera link ", CameraInterfaceName());
  return AcceptSource(filter, from);
}
