// The configuration record of the process: every setting of the configuration
// file, a few run-time status bytes and the version text. Its byte layout is the
// size of the "/config_mem" object that sibling processes may map.
//
// Every thread reads it through the const view GetSharedConfig; writers change
// it only through the setters below.
//
// Writers: the main thread loads the settings before any other thread starts;
// afterwards the command workers and the mailbox thread change settings, the RC
// loop changes focus_assistant_enabled and internal_camera_fullscreen, a worker
// for the watchdog writes ap_running, and the camera and video receive threads
// and the watchdog write camera_connected. Every thread reads it.
//
// Fields written after start-up are read and written with LoadShared and
// StoreShared (common/shared_field.h): bytes and 32-bit numbers whole, texts
// byte by byte, so a reader may see a text in the middle of a change. Only
// start-up, before those threads run, reads fields plainly (a restored settings
// file may change any setting later).
// The settings' keys, rules and limits: records/config_schema.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct __attribute__((packed)) SharedConfig {
  uint8_t disabled;                    // 0
  uint8_t camera_type;                 // 1
  uint8_t device_mode;                 // 2
  uint8_t cooperative_mode;            // 3
  uint8_t hdmi_enabled;                // 4
  uint8_t control_enabled;             // 5
  uint8_t disable_video_stream;        // 6
  uint8_t rc_input_enabled;            // 7
  char rc_input_mode[6];               // 8
  char rc2_input_mode[6];              // 14
  char rc_input_map[512];              // 20
  int32_t rc_input_speed_pan;          // 532
  int32_t rc_input_speed_tilt;         // 536
  int32_t rc_input_speed_dutch;        // 540
  int32_t rc_input_inverse_pan;        // 544
  int32_t rc_input_inverse_tilt;       // 548
  int32_t rc_input_inverse_dutch;      // 552
  uint8_t rc_input_abs;                // 556
  uint8_t rc_input_exp;                // 557
  uint8_t i2c_input_enabled;           // 558
  uint8_t reserved_559;
  int32_t i2c_input_speed_pan;         // 560
  int32_t i2c_input_speed_tilt;        // 564
  int32_t i2c_input_speed_dutch;       // 568
  uint8_t osd_enabled;                 // 572
  uint8_t hud_enabled;                 // 573
  uint8_t internal_camera_enabled;     // 574
  uint8_t internal_camera_fullscreen;  // 575
  uint8_t focus_assistant_enabled;     // 576
  uint8_t osd_border_height;           // 577
  uint8_t osd_border_width;            // 578
  uint8_t osd_top_offset;              // 579
  uint8_t osd_bottom_offset;           // 580
  uint8_t video_hflip;                 // 581
  uint8_t video_vflip;                 // 582
  uint8_t video_fix;                   // 583
  uint8_t shield_enabled;              // 584
  uint8_t reserved_585[3];
  int32_t shield_open;                 // 588
  int32_t shield_close;                // 592
  int32_t shield_timeout;              // 596, milliseconds (the file gives seconds)
  uint8_t ap_running;                  // 600
  char ap_iface[10];                   // 601
  char ap_ssid[256];                   // 611
  char ap_psk[256];                    // 867
  uint8_t reserved_1123;
  int32_t ap_mode;                     // 1124
  int32_t ap_channel;                  // 1128
  char ap_country[10];                 // 1132
  char wifi_iface[10];                 // 1142
  char wifi_ssid[256];                 // 1152
  char wifi_psk[256];                  // 1408
  uint8_t reserved_1664[150];
  char version_text[20];               // 1814
  uint8_t reserved_1834[6];
  uint8_t camera_connected;            // 1840
  uint8_t reserved_1841[3];
};

static_assert(sizeof(SharedConfig) == 1844);
static_assert(std::is_trivially_copyable_v<SharedConfig>);
static_assert(offsetof(SharedConfig, disabled) == 0);
static_assert(offsetof(SharedConfig, camera_type) == 1);
static_assert(offsetof(SharedConfig, device_mode) == 2);
static_assert(offsetof(SharedConfig, cooperative_mode) == 3);
static_assert(offsetof(SharedConfig, hdmi_enabled) == 4);
static_assert(offsetof(SharedConfig, control_enabled) == 5);
static_assert(offsetof(SharedConfig, disable_video_stream) == 6);
static_assert(offsetof(SharedConfig, rc_input_enabled) == 7);
static_assert(offsetof(SharedConfig, rc_input_mode) == 8);
static_assert(offsetof(SharedConfig, rc2_input_mode) == 14);
static_assert(offsetof(SharedConfig, rc_input_map) == 20);
static_assert(offsetof(SharedConfig, rc_input_speed_pan) == 532);
static_assert(offsetof(SharedConfig, rc_input_speed_tilt) == 536);
static_assert(offsetof(SharedConfig, rc_input_speed_dutch) == 540);
static_assert(offsetof(SharedConfig, rc_input_inverse_pan) == 544);
static_assert(offsetof(SharedConfig, rc_input_inverse_tilt) == 548);
static_assert(offsetof(SharedConfig, rc_input_inverse_dutch) == 552);
static_assert(offsetof(SharedConfig, rc_input_abs) == 556);
static_assert(offsetof(SharedConfig, rc_input_exp) == 557);
static_assert(offsetof(SharedConfig, i2c_input_enabled) == 558);
static_assert(offsetof(SharedConfig, i2c_input_speed_pan) == 560);
static_assert(offsetof(SharedConfig, i2c_input_speed_tilt) == 564);
static_assert(offsetof(SharedConfig, i2c_input_speed_dutch) == 568);
static_assert(offsetof(SharedConfig, osd_enabled) == 572);
static_assert(offsetof(SharedConfig, hud_enabled) == 573);
static_assert(offsetof(SharedConfig, internal_camera_enabled) == 574);
static_assert(offsetof(SharedConfig, internal_camera_fullscreen) == 575);
static_assert(offsetof(SharedConfig, focus_assistant_enabled) == 576);
static_assert(offsetof(SharedConfig, osd_border_height) == 577);
static_assert(offsetof(SharedConfig, osd_border_width) == 578);
static_assert(offsetof(SharedConfig, osd_top_offset) == 579);
static_assert(offsetof(SharedConfig, osd_bottom_offset) == 580);
static_assert(offsetof(SharedConfig, video_hflip) == 581);
static_assert(offsetof(SharedConfig, video_vflip) == 582);
static_assert(offsetof(SharedConfig, video_fix) == 583);
static_assert(offsetof(SharedConfig, shield_enabled) == 584);
static_assert(offsetof(SharedConfig, shield_open) == 588);
static_assert(offsetof(SharedConfig, shield_close) == 592);
static_assert(offsetof(SharedConfig, shield_timeout) == 596);
static_assert(offsetof(SharedConfig, ap_running) == 600);
static_assert(offsetof(SharedConfig, ap_iface) == 601);
static_assert(offsetof(SharedConfig, ap_ssid) == 611);
static_assert(offsetof(SharedConfig, ap_psk) == 867);
static_assert(offsetof(SharedConfig, ap_mode) == 1124);
static_assert(offsetof(SharedConfig, ap_channel) == 1128);
static_assert(offsetof(SharedConfig, ap_country) == 1132);
static_assert(offsetof(SharedConfig, wifi_iface) == 1142);
static_assert(offsetof(SharedConfig, wifi_ssid) == 1152);
static_assert(offsetof(SharedConfig, wifi_psk) == 1408);
static_assert(offsetof(SharedConfig, reserved_1664) == 1664);
static_assert(offsetof(SharedConfig, version_text) == 1814);
static_assert(offsetof(SharedConfig, camera_connected) == 1840);

// Every 32-bit number sits at a multiple of four, so it is read and stored whole.
static_assert(offsetof(SharedConfig, rc_input_speed_pan) % 4 == 0 && offsetof(SharedConfig, i2c_input_speed_pan) % 4 == 0 &&
              offsetof(SharedConfig, shield_open) % 4 == 0 && offsetof(SharedConfig, ap_mode) % 4 == 0);

// The process's one record, in static storage, to read; callers keep the pointer.
const SharedConfig* GetSharedConfig();

// One setting's field: where it is in the record and how wide. The rows of
// the schema (records/config_schema.h: FieldOfSetting) give them.
struct ConfigField {
  uint16_t offset;
  uint16_t size;
};

// --- Settings, each by its field: the loader before any other thread runs,
// then the command workers and the mailbox thread. Numbers are stored whole,
// texts byte by byte; a field of another width is left alone.
void StoreSettingByte(ConfigField field, uint8_t value);
void StoreSettingInt32(ConfigField field, int32_t value);
// The text cut to the field's size - 1 characters, the rest of the field zero.
void StoreSettingText(ConfigField field, const char* text);
// A setting's bytes put back as they were (a change undone).
void RestoreSettingBytes(ConfigField field, const void* bytes);
// Every field zero: the loader starting over, and the tests' reset.
void ClearSharedConfig();
// The whole record at once, while no other thread runs (a harness replaying saves).
void ReplaceSharedConfig(const SharedConfig& config);
void StoreConfigVersionText(const char* text);

// --- Run-time status and the RC loop's own settings.
void StoreFocusAssistantSetting(uint8_t enabled);       // RC loop
void StoreInternalCameraFullscreenSetting(uint8_t on);  // RC loop
void StoreApRunning(uint8_t running);                   // a worker for the watchdog
void StoreCameraConnected(uint8_t connected);           // camera and video receive threads, watchdog

// A copy of the whole record, read byte by byte while other threads may write
// it (the report and the save work on such a copy).
SharedConfig SnapshotSharedConfig();
