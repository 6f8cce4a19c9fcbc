// The state of the box's two links to the camera: the USB data link (frames
// both ways) and the video stream. Process-private; every field that more than
// one thread touches is an atomic, read relaxed where a value one pass old does.
// Every thread reads it through the const view GetLinkState; writers change it
// only through the setters below, each named for its writer.
#pragma once

#include <atomic>
#include <cstdint>

// The GPIO pin of the recording indicator LED, which the camera receive thread
// blinks while the camera records.
constexpr int kRecordingIndicatorPin = 24;

struct LinkState {
  // Set by start-up before the receive threads start (tests set them too);
  // read by every thread.
  std::atomic<uint32_t> source_mode{0};  // 0 work as Osmo, 1 work as Inspire
  std::atomic<uint8_t> cooperative{0};   // a flight controller shares the camera

  // The data link. The camera receive thread raises it on the first frame and
  // stamps every frame; the watchdog drops it after a second of silence. Every
  // thread reads link_up: frames offered while it is down are not sent.
  std::atomic<uint8_t> link_up{0};
  std::atomic<uint32_t> last_rx_ms{0};
  // Advanced by every frame sent, whichever thread sends it; only the low 16
  // bits reach the wire.
  std::atomic<uint32_t> sequence{0};

  // What the camera's messages report. Written by the camera receive thread;
  // read by the command workers, the RC loop and the joysticks.
  std::atomic<uint8_t> shot_mode{0};
  std::atomic<uint8_t> shot_submode{0};
  std::atomic<uint8_t> shot_active{0};
  std::atomic<uint32_t> focus_byte42{0};  // focus report byte 42: the assistant bits
  std::atomic<uint32_t> focus_range{0};   // focus report bytes 12-13

  // Exposure steps. known_*: the index the camera last reported, or the RC
  // stepper last sent (-1: none yet); *_index: where the RC stepper stands,
  // moved to each recognised report. Written by the camera receive thread and
  // the RC loop; read by the RC loop.
  std::atomic<int32_t> aperture_index{0};
  std::atomic<int32_t> shutter_index{0};
  std::atomic<int32_t> known_aperture_index{-1};
  std::atomic<int32_t> known_shutter_index{-1};

  // The camera receive thread's own bookkeeping.
  uint16_t timelapse_interval = 0;
  uint16_t timelapse_duration = 0;
  uint8_t last_video_format_a = 0;  // 0: not yet seen
  uint8_t last_video_format_b = 0;
  uint32_t blink_ms = 0;            // recording indicator
  uint8_t blink_state = 0;

  // The watchdog's own: the one-time state command has gone out.
  uint8_t state_action_done = 0;
  // While set, the watchdog keeps the camera clock set from the box's. Set at
  // start; the "time" command clears it for good (command workers, mailbox).
  std::atomic<uint8_t> date_sync_pending{1};

  // The video link. The video receive thread stamps each batch and raises
  // video_flowing; the watchdog drops it after 3 s without video.
  std::atomic<uint32_t> last_video_ms{0};
  std::atomic<uint8_t> video_flowing{0};
};

// The process's one link state, in static storage, to read.
const LinkState* GetLinkState();

// --- Start-up, before the receive threads start.
void SetLinkModes(uint32_t source_mode, uint8_t cooperative);

// --- The data link: the camera receive thread raises it with the time of the
// frame that did and stamps each later frame; the watchdog drops it.
void MarkDataLinkUp(uint32_t now_ms);
void StampDataLink(uint32_t now_ms);
void MarkDataLinkDown();
// Down, and no frame seen: the data source starting.
void ResetDataLink();
// The sequence number of the next frame sent, by whichever thread sends it.
uint32_t NextFrameSequence();

// --- What the camera reports (camera receive thread).
struct ShotState {
  uint8_t mode;
  uint8_t submode;
  uint16_t timelapse_interval;
  uint16_t timelapse_duration;
};
ShotState CurrentShotState();
void StoreShotState(const ShotState& shot);
void StoreShotActive(uint8_t active);
void StoreFocusReportBytes(uint32_t byte42, uint32_t range);
// An exposure index the camera reported: where the RC stepper stands and the
// index known, together.
void StoreReportedApertureIndex(int32_t index);
void StoreReportedShutterIndex(int32_t index);
void StoreLastVideoFormat(uint8_t a, uint8_t b);
void StoreRecordingBlink(uint32_t ms, uint8_t state);

// --- The RC stepper (RC loop): where it stands, and the index it last sent.
void StoreApertureStep(int32_t index);
void StoreSentApertureIndex(int32_t index);
void StoreShutterStep(int32_t index);
void StoreSentShutterIndex(int32_t index);

// --- The watchdog's one-time state command; the "time" command's end of the
// clock sync (command workers, mailbox).
void MarkStateActionDone(uint8_t done);
void EndDateSync();

// --- The video link: the video receive thread stamps each batch and raises
// video_flowing; the watchdog drops it.
void StampVideo(uint32_t now_ms);
void StoreVideoFlowing(uint8_t flowing);

// Back to the start values, for the tests' reset of every record.
void ResetLinkState();
