#include "records/reset.h"

#include "platform/worker_pool.h"
#include "records/client_table.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/media_request.h"
#include "records/motion_intent.h"
#include "records/shared_config.h"
#include "records/usb_peer.h"
#include "records/viewer_traffic.h"

void ResetRecords() {
  // A command of the previous case may still be running on a worker.
  WaitForIdleWorkers();
  ClearHudRecord();
  ClearSharedConfig();
  ResetLinkState();
  ResetMotionIntent();
  ClearClientTable();
  SetUsbSocket(-1);
  SetCameraAddress(sockaddr_in{});
  TakeMediaListingRequest();
  ResetViewerTraffic();
}
