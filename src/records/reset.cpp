#include "records/reset.h"

#include <cstring>
#include <memory>

#include "platform/worker_pool.h"
#include "records/client_table.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/media_request.h"
#include "records/motion_intent.h"
#include "records/shared_config.h"
#include "records/usb_peer.h"
#include "records/viewer_traffic.h"

namespace {

// Built again in place: the start values are those the record declares.
template <typename Record>
void Renew(Record* record) {
  std::destroy_at(record);
  std::construct_at(record);
}

}  // namespace

void ResetRecords() {
  // A command of the previous case may still be running on a worker.
  WaitForIdleWorkers();
  std::memset(static_cast<void*>(GetHudState()), 0, sizeof(HudState));
  std::memset(static_cast<void*>(GetSharedConfig()), 0, sizeof(SharedConfig));
  Renew(GetLinkState());
  Renew(GetMotionIntent());
  ClearClientTable();
  SetUsbSocket(-1);
  SetCameraAddress(sockaddr_in{});
  TakeMediaListingRequest();
  ResetViewerTraffic();
}
