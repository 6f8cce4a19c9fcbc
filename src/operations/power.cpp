#include "operations/power.h"

#include <cstdio>
#include <cstring>

#include "common/named_rows.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"

namespace {

struct PowerRow {
  const char* name;
  const FrameTemplate<14>* frame;
};
constexpr PowerRow kPowerTable[] = {
    {"sleep", &kPowerSleep}, {"wakeup", &kPowerWakeup}, {"restart", &kPowerRestart}, {"shutdown", &kPowerShutdown}};

}  // namespace

const char* PowerChoice(size_t index) { return NameAt(kPowerTable, index); }

void SetCameraPower(const char* state) {
  if (state == nullptr) state = "";
  fprintf(stderr, "Power set %s\n", state);
  for (const PowerRow& row : kPowerTable) {
    if (std::strcmp(row.name, state) == 0) {
      SendTemplateIfLinkUp(*row.frame);
      return;
    }
  }
}

void ResetCamera() { SendTemplateIfLinkUp(kResetCamera); }
