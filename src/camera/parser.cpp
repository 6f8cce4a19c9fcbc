#include "camera/parser.h"

#include <cmath>
#include <cstdio>

#include "camera/camera_link.h"
#include "camera/camera_messages.h"
#include "camera/hud_state.h"
#include "config/shared_config.h"
#include "platform/clock.h"

namespace {

using MessageHandler = void (*)(const uint8_t* frame, size_t length);

struct MessageRoute {
  uint8_t length;
  MessageHandler handler;
};

// Camera messages are told apart by their total length alone.
constexpr MessageRoute kMessageRoutes[] = {
    {22, HandleCounterMessage},       {25, HandleAttitudeMessage},     {49, HandleCameraStatusMessage},
    {50, HandleCameraStatusMessage},  {52, HandleLensMessage},         {53, HandleFocusMessage},
    {59, HandleFocusMessage},         {54, HandlePlaybackMessage},     {77, HandleDataBlockMessage},
    {85, HandleSettingsMessage},      {104, HandleSettingsMessage},
};

void MarkFrameReceived() {
  CameraLink* link = GetCameraLink();
  if (link->link_up == 0) {
    fprintf(stderr, "data connected\n");
    HudState* hud = GetHudState();
    hud->telemetry_connected = 1;
    hud->data_connected = 1;
    hud->camera_status_valid = 0;
    link->link_up = 1;
    GetSharedConfig()->camera_connected = 1;
  }
  link->last_rx_ms = MillisecondClock();
}

}  // namespace

void ParseCameraFrame(const uint8_t* frame) {
  const size_t length = frame[1];
  MarkFrameReceived();
  if (length >= 13 && length <= 15) {
    AnswerCameraQuery(frame, length);
    return;
  }
  for (const MessageRoute& route : kMessageRoutes) {
    if (route.length == length) {
      route.handler(frame, length);
      return;
    }
  }
}
