#include "camera/capture.h"

#include <cstdio>
#include <cstring>

#include "camera/camera_link.h"
#include "camera/frame.h"
#include "camera/hud_state.h"
#include "inputs/shield.h"
#include "media/ftp_listing.h"
#include "platform/shell.h"
#include "records/camera_codes.h"
#include "platform/clock.h"

namespace {

constexpr uint8_t kToGimbal = 0x04;
constexpr uint8_t kToCamera = 0x01;

constexpr FrameTemplate<14> kPhotoMode = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x01, 0x00,
                                          0x00, 0x40, 0x02, 0x10, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kVideoMode = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x01, 0x00,
                                          0x00, 0x40, 0x02, 0x10, 0x01, 0x00, 0x00};
static_assert(FrameTemplateValid(kPhotoMode) && FrameTemplateValid(kVideoMode));

constexpr FrameTemplate<14> kPhotoFormatRaw = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                               0x00, 0x40, 0x02, 0x16, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kPhotoFormatJpg = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                               0x00, 0x40, 0x02, 0x16, 0x01, 0x00, 0x00};
constexpr FrameTemplate<14> kPhotoFormatJpgRaw = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                                  0x00, 0x40, 0x02, 0x16, 0x02, 0x00, 0x00};
static_assert(FrameTemplateValid(kPhotoFormatRaw) && FrameTemplateValid(kPhotoFormatJpg) &&
              FrameTemplateValid(kPhotoFormatJpgRaw));

constexpr FrameTemplate<18> kResolution = {0x55, 0x12, 0x04, 0xC7, 0x02, 0x01, 0x00, 0x00, 0x40,
                                           0x02, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<15> kResolutionConfirm = {0x55, 0x0F, 0x04, 0xA2, 0x02, 0x01, 0x00, 0x00,
                                                  0x40, 0x02, 0xAF, 0x00, 0x00, 0x00, 0x00};
static_assert(FrameTemplateValid(kResolution) && FrameTemplateValid(kResolutionConfirm));

// Key-event frames; the encoders point them at the gimbal unit or the camera
// by rewriting the receiver byte.
constexpr FrameTemplate<23> kShotRelease = {0x55, 0x17, 0x04, 0x38, 0x09, 0x04, 0x00, 0x00, 0x40, 0x01, 0x01, 0x00,
                                            0x00, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00};
constexpr FrameTemplate<23> kIntervalStopPress = {0x55, 0x17, 0x04, 0x38, 0x09, 0x01, 0x00, 0x00,
                                                  0x40, 0x01, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00,
                                                  0x91, 0x00, 0x00, 0x00, 0x81, 0x00, 0x00};
constexpr FrameTemplate<23> kIntervalStopRelease = {0x55, 0x17, 0x04, 0x38, 0x09, 0x01, 0x00, 0x00,
                                                    0x40, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                    0x91, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00};
constexpr FrameTemplate<23> kRecordStartPress = {0x55, 0x17, 0x04, 0x38, 0x09, 0x01, 0x00, 0x00,
                                                 0x00, 0x01, 0x01, 0x0C, 0x00, 0x00, 0x00, 0x00,
                                                 0x91, 0x0D, 0x00, 0x00, 0x90, 0x00, 0x00};
constexpr FrameTemplate<23> kRecordStopPress = {0x55, 0x17, 0x04, 0x38, 0x09, 0x01, 0x00, 0x00,
                                                0x00, 0x01, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00,
                                                0x91, 0x0D, 0x00, 0x00, 0x98, 0x00, 0x00};
constexpr FrameTemplate<23> kRecordRelease = {0x55, 0x17, 0x04, 0x38, 0x09, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00,
                                              0x00, 0x00, 0x00, 0x00, 0x91, 0x0D, 0x00, 0x00, 0x9C, 0x00, 0x00};
static_assert(FrameTemplateValid(kShotRelease) && FrameTemplateValid(kIntervalStopPress) &&
              FrameTemplateValid(kIntervalStopRelease));
static_assert(FrameTemplateValid(kRecordStartPress) && FrameTemplateValid(kRecordStopPress) &&
              FrameTemplateValid(kRecordRelease));

// The shutter's press frame by shot mode and submode range (submode_last 255:
// any submode).
struct ShotRow {
  uint8_t mode;
  uint8_t submode_first;
  uint8_t submode_last;
  FrameTemplate<23> press;
};

constexpr ShotRow MakeShotRow(uint8_t mode, uint8_t first, uint8_t last, uint8_t p0, uint8_t p7, uint8_t p8,
                              uint8_t check) {
  return {mode, first, last,
          FrameTemplate<23>{0x55, 0x17, 0x04, 0x38, 0x09, 0x04, 0x00, 0x00, 0x40, 0x01, 0x01, p0,
                            0x00, 0x00, 0x00, 0x00, 0x91, 0x00, p7, p8, check, 0x00, 0x00}};
}

// Press payloads: p0 00 00 00 00 91 00 p7 p8 check.
constexpr ShotRow kShotTable[] = {
    MakeShotRow(0, 0, 0, 0x30, 0x01, 0x00, 0xA0), MakeShotRow(0, 1, 1, 0xD0, 0x0A, 0x01, 0x4A),
    MakeShotRow(0, 2, 2, 0x50, 0x01, 0x00, 0xC0), MakeShotRow(1, 0, 0, 0x90, 0x03, 0x00, 0x02),
    MakeShotRow(1, 1, 1, 0x90, 0x05, 0x00, 0x04), MakeShotRow(1, 2, 2, 0x90, 0x07, 0x00, 0x06),
    MakeShotRow(1, 3, 3, 0xB0, 0x03, 0x00, 0x22), MakeShotRow(1, 4, 4, 0xB0, 0x05, 0x00, 0x24),
    MakeShotRow(2, 0, 0, 0xD0, 0x0A, 0xFF, 0xB4), MakeShotRow(2, 1, 1, 0xD0, 0x1E, 0xFF, 0xA0),
    MakeShotRow(3, 0, 3, 0xF0, 0xFF, 0x00, 0x9E), MakeShotRow(3, 4, 4, 0xF0, 0x03, 0x00, 0x62),
    MakeShotRow(4, 0, 255, 0xD0, 0x32, 0xFF, 0x8C),
};

constexpr bool ShotTableValid() {
  for (const ShotRow& row : kShotTable) {
    if (!FrameTemplateValid(row.press)) return false;
  }
  return true;
}
static_assert(ShotTableValid());

const FrameTemplate<23>* FindShotPress(uint8_t mode, uint8_t submode) {
  for (const ShotRow& row : kShotTable) {
    if (row.mode == mode && submode >= row.submode_first && submode <= row.submode_last) return &row.press;
  }
  return nullptr;
}

// Copies a key-event frame, points it at one unit and sends it while the link is up.
bool SendKeyTo(const FrameTemplate<23>& stored, uint8_t receiver) {
  uint8_t frame[23];
  std::memcpy(frame, stored.data(), sizeof frame);
  frame[5] = receiver;
  return SendFrameIfLinkUp(frame, sizeof frame);
}

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
  if (GetHudState()->work_mode != mode) RunShellCommand("killall -q display");
}

void ShutterRelease() {
  if (GetCameraLink()->shot_active) {
    StopIntervalShooting();
  } else {
    TakeShot();
  }
}

void TakeShot() {
  OpenShield();
  if (GetHudState()->work_mode != 0) SetCameraWorkMode(0);
  fprintf(stderr, "shot\n");
  const CameraLink* link = GetCameraLink();
  const FrameTemplate<23>* press = FindShotPress(link->shot_mode, link->shot_submode);
  if (press == nullptr) return;

  const struct {
    const FrameTemplate<23>* stored;
    uint8_t receiver;
  } chain[] = {{press, kToGimbal},         {press, kToGimbal},         {press, kToCamera},
               {press, kToCamera},         {&kShotRelease, kToGimbal}, {&kShotRelease, kToGimbal},
               {&kShotRelease, kToCamera}, {&kShotRelease, kToCamera}};
  for (const auto& step : chain) {
    if (!SendKeyTo(*step.stored, step.receiver)) break;
  }
}

void StopIntervalShooting() {
  fprintf(stderr, "stop interval shoting\n");
  const FrameTemplate<23>* chain[] = {&kIntervalStopPress, &kIntervalStopRelease, &kIntervalStopPress,
                                      &kIntervalStopRelease};
  for (const FrameTemplate<23>* stored : chain) {
    if (!SendTemplateIfLinkUp(*stored)) break;
  }
  RequestMediaListing();
}

void StopShot() {
  fprintf(stderr, "stop shot\n");
  if (SendKeyTo(kShotRelease, kToGimbal)) SendKeyTo(kShotRelease, kToCamera);
  RequestMediaListing();
}

void SetRecording(int32_t on) {
  if (on != 0) {
    OpenShield();
    if (GetHudState()->work_mode != 1) {
      SetCameraWorkMode(1);
      SleepMilliseconds(50);
    }
    for (int i = 0; i < 4; ++i) RecordRound(kRecordStartPress, 2);
    for (int i = 0; i < 4; ++i) RecordRound(kRecordRelease, 2);
    fprintf(stderr, "record start\n");
  } else {
    for (int i = 0; i < 4; ++i) RecordRound(kRecordStopPress, 20);
    for (int i = 0; i < 4; ++i) RecordRound(kRecordRelease, 20);
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

  uint8_t frame[kResolution.size()];
  std::memcpy(frame, kResolution.data(), sizeof frame);
  frame[11] = size;
  frame[12] = rate_code;
  if (!SendFrameIfLinkUp(frame, sizeof frame)) return;

  uint8_t confirm[kResolutionConfirm.size()];
  std::memcpy(confirm, kResolutionConfirm.data(), sizeof confirm);
  confirm[11] = size;
  confirm[12] = rate_code;
  SendFrameIfLinkUp(confirm, sizeof confirm);
}
