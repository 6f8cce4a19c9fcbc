#include "operations/capture.h"

#include <cstdio>
#include <cstring>

#include "actuators/shield.h"
#include "common/shared_field.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "records/camera_codes.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/media_request.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"

namespace {

constexpr uint8_t kToGimbal = 0x04;
constexpr uint8_t kToCamera = 0x01;

const FrameTemplate<23>* FindShotPress(uint8_t mode, uint8_t submode) {
  for (const ShotPress& row : kShotPresses) {
    if (row.mode == mode && submode >= row.submode_first && submode <= row.submode_last) return &row.press;
  }
  return nullptr;
}

// Copies a key-event frame, points it at one unit and sends it while the link is up.
bool SendKeyTo(const FrameTemplate<23>& stored, uint8_t receiver) { return SendWithByte(stored, 5, receiver); }

// One recording round: to the camera, then to the gimbal unit only if the
// first went out; then the pause, whatever happened.
void RecordRound(const FrameTemplate<23>& stored, uint32_t pause_ms) {
  if (SendKeyTo(stored, kToCamera)) SendKeyTo(stored, kToGimbal);
  SleepMilliseconds(pause_ms);
}

}  // namespace

void SetCameraWorkMode(int32_t mode) {
  if (mode == 0) {
    fprintf(stderr, "set mode photo\n");
    if (SendTemplateIfLinkUp(kPhotoMode)) SendTemplateIfLinkUp(kPhotoMode);
  } else if (mode == 1) {
    fprintf(stderr, "set mode video\n");
    if (SendTemplateIfLinkUp(kVideoMode)) SendTemplateIfLinkUp(kVideoMode);
  }
  // The display process draws per work mode; its launcher starts it again.
  if (LoadShared(&GetHudState()->work_mode) != mode) ExecuteShellCommand("killall -q display");
}

void ShutterRelease() {
  if (GetLinkState()->shot_active) {
    StopIntervalShooting();
  } else {
    TakeShot();
  }
}

void TakeShot() {
  OpenShield();
  if (LoadShared(&GetHudState()->work_mode) != 0) SetCameraWorkMode(0);
  fprintf(stderr, "shot\n");
  const LinkState* link = GetLinkState();
  const FrameTemplate<23>* press = FindShotPress(link->shot_mode, link->shot_submode);
  if (press == nullptr) return;

  const struct {
    const FrameTemplate<23>* stored;
    uint8_t receiver;
  } chain[] = {{press, kToGimbal},
               {press, kToGimbal},
               {press, kToCamera},
               {press, kToCamera},
               {&kButtonReleaseGimbal, kToGimbal},
               {&kButtonReleaseGimbal, kToGimbal},
               {&kButtonReleaseGimbal, kToCamera},
               {&kButtonReleaseGimbal, kToCamera}};
  for (const auto& step : chain) {
    if (!SendKeyTo(*step.stored, step.receiver)) break;
  }
}

void StopIntervalShooting() {
  fprintf(stderr, "stop interval shoting\n");
  const FrameTemplate<23>* chain[] = {&kIntervalStopPress, &kButtonReleaseCamera, &kIntervalStopPress,
                                      &kButtonReleaseCamera};
  for (const FrameTemplate<23>* stored : chain) {
    if (!SendTemplateIfLinkUp(*stored)) break;
  }
  RequestMediaListing();
}

void StopShot() {
  fprintf(stderr, "stop shot\n");
  if (SendKeyTo(kButtonReleaseGimbal, kToGimbal)) SendKeyTo(kButtonReleaseGimbal, kToCamera);
  RequestMediaListing();
}

void SetRecording(int32_t on) {
  if (on != 0) {
    OpenShield();
    if (LoadShared(&GetHudState()->work_mode) != 1) {
      SetCameraWorkMode(1);
      SleepMilliseconds(50);
    }
    for (int i = 0; i < 4; ++i) RecordRound(kRecordStartPress, 2);
    for (int i = 0; i < 4; ++i) RecordRound(kKeyIdleCamera, 2);
    fprintf(stderr, "record start\n");
  } else {
    for (int i = 0; i < 4; ++i) RecordRound(kRecordStopPress, 20);
    for (int i = 0; i < 4; ++i) RecordRound(kKeyIdleCamera, 20);
    fprintf(stderr, "record stop\n");
  }
  RequestMediaListing();
}

void SetPhotoFormat(int32_t format) {
  switch (format) {
    case 0:
      fprintf(stderr, "set shot mode RAW\n");
      SendTemplateIfLinkUp(kPhotoFormatRaw);
      break;
    case 1:
      fprintf(stderr, "set shot mode JPG\n");
      SendTemplateIfLinkUp(kPhotoFormatJpg);
      break;
    case 2:
      fprintf(stderr, "set shot mode JPG+RAW\n");
      SendTemplateIfLinkUp(kPhotoFormatJpgRaw);
      break;
    default:
      break;
  }
}

void SetVideoResolution(int32_t width, int32_t height, int32_t rate) {
  fprintf(stderr, "set video resolution %dx%d@%d\n", width, height, rate);
  const uint8_t size = VideoSizeCode(width, height);
  const uint8_t rate_code = VideoRateCode(rate);

  const auto codes = [&](uint8_t* frame) {
    frame[11] = size;
    frame[12] = rate_code;
  };
  if (SendPatched(kResolution, codes)) SendPatched(kResolutionConfirm, codes);
}
