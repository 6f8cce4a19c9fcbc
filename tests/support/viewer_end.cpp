#include "viewer_end.h"

#include <unistd.h>

#include "records/client_table.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sockets.h"

ViewerEnd AttachViewer(bool data_only) {
  ViewerEnd v;
  v.fd = OpenLoopbackUdp(&v.port);
  if (DiscoverySocket() < 0) {
    uint16_t unused = 0;
    SetDiscoverySocket(OpenLoopbackUdp(&unused));
  }
  AddClient("127.0.0.1", v.port, data_only ? 1 : 0);
  return v;
}

void DetachViewer(ViewerEnd& viewer) {
  RemoveClient("127.0.0.1", viewer.port);
  if (viewer.fd >= 0) close(viewer.fd);
  viewer.fd = -1;
}

std::vector<Datagram> TakeViewerPayloads(const ViewerEnd& viewer, int quiet_ms, int first_wait_ms) {
  std::vector<Datagram> out;
  for (auto& d : ReceiveDatagrams(viewer.fd, quiet_ms, first_wait_ms)) {
    if (d.size() >= static_cast<size_t>(kClientHeaderSize)) out.emplace_back(d.begin() + kClientHeaderSize, d.end());
  }
  return out;
}
