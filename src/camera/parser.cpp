#include "camera/parser.h"

#include <cmath>
#include <cstdio>

#include "camera/camera_answers.h"
#include "camera/settings_message.h"
#include "camera/telemetry.h"
#include "common/shared_field.h"
#include "platform/clock.h"
#include "platform/event_journal.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/shared_config.h"

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
  const uint32_t now = MillisecondClock();
  if (GetLinkState()->link_up == 0) {
    fprintf(stderr, "data connected\n");
    NoteEvent(JournalEvent::kCameraLink, "camera", "up");
    StoreHudDataLink(1);
    MarkDataLinkUp(now);
    StoreCameraConnected(1);
    return;
  }
  StampDataLink(now);
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
