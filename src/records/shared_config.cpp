#include "records/shared_config.h"

#include <cstring>

#include "common/shared_field.h"

namespace {
// Aligned for the whole-number loads and stores of its fields.
alignas(8) SharedConfig g_shared_config;

// Inside the record, or nothing at all.
uint8_t* PlaceOf(ConfigField field) {
  if (field.size == 0 || field.offset + field.size > sizeof(SharedConfig)) return nullptr;
  return reinterpret_cast<uint8_t*>(&g_shared_config) + field.offset;
}
}  // namespace

const SharedConfig* GetSharedConfig() { return &g_shared_config; }

SharedConfig SnapshotSharedConfig() {
  SharedConfig copy;
  LoadSharedBytes(&copy, &g_shared_config, sizeof copy);
  return copy;
}

void StoreSettingByte(ConfigField field, uint8_t value) {
  uint8_t* place = PlaceOf(field);
  if (place != nullptr && field.size == 1) StoreShared(place, value);
}

void StoreSettingInt32(ConfigField field, int32_t value) {
  // Every 32-bit field sits at a multiple of four (asserted with the layout).
  uint8_t* place = PlaceOf(field);
  if (place != nullptr && field.size == 4 && field.offset % 4 == 0) StoreShared(reinterpret_cast<int32_t*>(place), value);
}

void StoreSettingText(ConfigField field, const char* text) {
  if (uint8_t* place = PlaceOf(field)) StoreSharedText(reinterpret_cast<char*>(place), field.size, text);
}

void RestoreSettingBytes(ConfigField field, const void* bytes) {
  if (uint8_t* place = PlaceOf(field)) StoreSharedBytes(place, bytes, field.size);
}

void ClearSharedConfig() { std::memset(static_cast<void*>(&g_shared_config), 0, sizeof g_shared_config); }

void ReplaceSharedConfig(const SharedConfig& config) { StoreSharedBytes(&g_shared_config, &config, sizeof config); }

void StoreConfigVersionText(const char* text) {
  StoreSharedText(g_shared_config.version_text, sizeof g_shared_config.version_text, text);
}

void StoreFocusAssistantSetting(uint8_t enabled) { StoreShared(&g_shared_config.focus_assistant_enabled, enabled); }

void StoreInternalCameraFullscreenSetting(uint8_t on) { StoreShared(&g_shared_config.internal_camera_fullscreen, on); }

void StoreApRunning(uint8_t running) { StoreShared(&g_shared_config.ap_running, running); }

void StoreCameraConnected(uint8_t connected) { StoreShared(&g_shared_config.camera_connected, connected); }
