#include "records/link_state.h"

#include <memory>

namespace {
LinkState g_link_state;
constexpr auto kRelaxed = std::memory_order_relaxed;
}  // namespace

const LinkState* GetLinkState() { return &g_link_state; }

void SetLinkModes(uint32_t source_mode, uint8_t cooperative) {
  g_link_state.source_mode.store(source_mode);
  g_link_state.cooperative.store(cooperative);
}

void MarkDataLinkUp(uint32_t now_ms) {
  g_link_state.last_rx_ms.store(now_ms, kRelaxed);
  g_link_state.link_up.store(1);
}

void StampDataLink(uint32_t now_ms) { g_link_state.last_rx_ms.store(now_ms, kRelaxed); }

void MarkDataLinkDown() { g_link_state.link_up.store(0); }

void ResetDataLink() {
  g_link_state.link_up.store(0);
  g_link_state.last_rx_ms.store(0);
}

uint32_t NextFrameSequence() { return g_link_state.sequence.fetch_add(1, kRelaxed); }

ShotState CurrentShotState() {
  return ShotState{g_link_state.shot_mode.load(kRelaxed), g_link_state.shot_submode.load(kRelaxed),
                   g_link_state.timelapse_interval, g_link_state.timelapse_duration};
}

void StoreShotState(const ShotState& shot) {
  g_link_state.shot_mode.store(shot.mode);
  g_link_state.shot_submode.store(shot.submode);
  g_link_state.timelapse_interval = shot.timelapse_interval;
  g_link_state.timelapse_duration = shot.timelapse_duration;
}

void StoreShotActive(uint8_t active) { g_link_state.shot_active.store(active); }

void StoreFocusReportBytes(uint32_t byte42, uint32_t range) {
  g_link_state.focus_range.store(range);
  g_link_state.focus_byte42.store(byte42);
}

void StoreReportedApertureIndex(int32_t index) {
  g_link_state.aperture_index.store(index);
  g_link_state.known_aperture_index.store(index);
}

void StoreReportedShutterIndex(int32_t index) {
  g_link_state.shutter_index.store(index);
  g_link_state.known_shutter_index.store(index);
}

void StoreLastVideoFormat(uint8_t a, uint8_t b) {
  g_link_state.last_video_format_a = a;
  g_link_state.last_video_format_b = b;
}

void StoreRecordingBlink(uint32_t ms, uint8_t state) {
  g_link_state.blink_ms = ms;
  g_link_state.blink_state = state;
}

void StoreApertureStep(int32_t index) { g_link_state.aperture_index.store(index); }
void StoreSentApertureIndex(int32_t index) { g_link_state.known_aperture_index.store(index); }
void StoreShutterStep(int32_t index) { g_link_state.shutter_index.store(index); }
void StoreSentShutterIndex(int32_t index) { g_link_state.known_shutter_index.store(index); }

void MarkStateActionDone(uint8_t done) { g_link_state.state_action_done = done; }

void EndDateSync() { g_link_state.date_sync_pending.store(0); }

void StampVideo(uint32_t now_ms) { g_link_state.last_video_ms.store(now_ms, kRelaxed); }

void StoreVideoFlowing(uint8_t flowing) { g_link_state.video_flowing.store(flowing, kRelaxed); }

void ResetLinkState() {
  std::destroy_at(&g_link_state);
  std::construct_at(&g_link_state);
}
