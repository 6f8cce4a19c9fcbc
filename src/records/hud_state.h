// HudState: the 2728-byte status record in the shared-memory object "/hud_mem",
// read by the display, hud and rcin processes and the local web page. Its byte
// layout is an interface with those programs.
//
// Inside the daemon every thread reads it through the const view GetHudState;
// writers change it only through the setters below, one per block of fields
// that belong together. Most blocks have one writer: the camera receive thread
// (attitude, camera status, settings, focus report, playback, data block), the
// watchdog (link flags and telemetry text, video text), the video receive
// thread (video_connected), the client table (client count), the FTP listing
// thread (last media file), start-up (identity, display flags). Command
// workers, the mailbox thread and the RC loop write the display flags and the
// focus point. Other programs write the RC fields, the mailbox, the sibling
// status and the time source; the daemon only reads those (the mailbox thread
// empties the mailbox, in place: HudCommandMailbox).
//
// Fields that more than one thread of the daemon touches are read with
// LoadShared (common/shared_field.h), never plainly; the setters store every
// field whole with StoreShared (texts byte by byte).
//
// Consistency rule for readers in other processes: every setter that changes
// more than one field runs between two counters of its writer, in bytes the
// layout left reserved: "begun" is advanced before the first field is
// written, "done" (a release store) after the last. The camera receive thread
// has a pair of its own (plain stores: it is the only writer of that pair, and
// its handlers must stay cheap); every other writer shares the second pair and
// advances it with atomic increments. A reader loads both "done" counters
// (acquire), copies the record, then (after an acquire fence) loads both
// "begun" counters: the copy is consistent when each pair agrees, else it
// copies again (TakeConsistentHudCopy does one try). A daemon that died in the
// middle of an update leaves a pair apart until it starts again: readers
// bound their retries. attitude_updating still marks the attitude rewrite
// for the readers that know only that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

constexpr int kRcChannelCount = 32;
constexpr int kRcFunctionCount = 22;
constexpr int kCommandMailboxSize = 512;

struct __attribute__((packed)) HudState {
  uint8_t marker;                          // 0
  char title[128];                         // 1
  uint8_t camera_status_valid;             // 129
  uint8_t camera_state;                    // 130
  uint8_t reserved_131[56];
  uint8_t client_count;                    // 187
  uint8_t data_connected;                  // 188
  uint8_t telemetry_connected;             // 189
  uint8_t video_connected;                 // 190
  char telemetry_text[128];                // 191
  char video_text[128];                    // 319
  uint8_t reserved_447[158];
  char version_text[20];                   // 605
  uint8_t osd_enabled;                     // 625
  uint8_t hud_visible;                     // 626
  uint8_t internal_camera_enabled;         // 627
  uint8_t internal_camera_fullscreen;      // 628
  uint8_t focus_assistant_enabled;         // 629
  uint8_t reserved_630[10];
  double tilt_rad;                         // 640
  double dutch_rad;                        // 648
  double pan_rad;                          // 656
  double tilt_sin;                         // 664
  double tilt_cos;                         // 672
  double dutch_sin;                        // 680
  double dutch_cos;                        // 688
  double pan_sin;                          // 696
  double pan_cos;                          // 704
  char tilt_text[10];                      // 712
  char dutch_text[10];                     // 722
  char pan_text[10];                       // 732
  uint8_t attitude_updating;               // 742
  uint8_t reserved_743;
  double focus_point_x;                    // 744
  double focus_point_y;                    // 752
  uint32_t camera_updates_begun;           // 760: the consistency rule above
  uint32_t camera_updates_done;            // 764
  uint32_t other_updates_begun;            // 768
  uint32_t other_updates_done;             // 772
  uint8_t reserved_776[111];
  uint8_t rc_input_status;                 // 887
  uint8_t show_rc_channels;                // 888
  uint8_t reserved_889;
  uint16_t rc_channel_values[kRcChannelCount];      // 890
  uint8_t rc_channel_map[kRcChannelCount];          // 954
  int16_t rc_function_active[kRcFunctionCount];     // 986
  uint8_t reserved_1030[26];
  double rc_function_value[kRcFunctionCount];       // 1056
  uint8_t reserved_1232[80];
  double rc_function_position[kRcFunctionCount];    // 1312
  uint8_t reserved_1488[80];
  uint8_t rc_suspended;                    // 1568
  uint8_t reserved_1569;
  char command_mailbox[kCommandMailboxSize];  // 1570: handshake in clients/mailbox.h
  uint8_t reserved_2082[297];
  uint8_t camera_status_flags;             // 2379
  uint8_t status_byte42;                   // 2380
  uint8_t status_byte13;                   // 2381
  uint8_t reserved_2382[2];
  uint32_t status_value20;                 // 2384
  uint32_t counter22;                      // 2388
  uint32_t status_value24;                 // 2392
  uint32_t status_value28;                 // 2396
  uint16_t status_value40;                 // 2400
  uint8_t orientation_locked;              // 2402
  uint8_t work_mode;                       // 2403
  uint16_t settings_value54;               // 2404
  uint8_t settings_byte16;                 // 2406
  uint8_t video_format_a;                  // 2407
  uint8_t video_format_b;                  // 2408
  uint8_t settings_byte34;                 // 2409
  uint8_t settings_byte35;                 // 2410
  int8_t exposure_compensation;            // 2411
  uint8_t settings_byte42;                 // 2412
  uint8_t reserved_2413;
  int16_t settings_code38;                 // 2414
  uint8_t settings_byte31;                 // 2416
  uint8_t settings_byte21;                 // 2417
  uint8_t settings_flag66;                 // 2418
  uint8_t settings_byte43;                 // 2419
  uint32_t settings_value51;               // 2420
  uint32_t shutter_code;                   // 2424
  uint8_t reserved_2428[4];
  double aperture;                         // 2432
  uint8_t settings_byte23;                 // 2440
  uint8_t settings_byte67;                 // 2441
  uint8_t focus_valid;                     // 2442
  uint8_t focus_mode;                      // 2443
  uint8_t focus_flag;                      // 2444
  int8_t focus_percent;                    // 2445
  uint8_t reserved_2446[2];
  double focus_value;                      // 2448
  double focus_x;                          // 2456
  double focus_y;                          // 2464
  uint8_t focus_byte32;                    // 2472
  uint8_t af_unlimited;                    // 2473
  uint8_t reserved_2474;
  uint8_t camera_data64[64];               // 2475
  uint8_t reserved_2539[65];
  uint32_t camera_data64_ms;               // 2604
  uint8_t playback_state;                  // 2608
  uint8_t reserved_2609;
  uint16_t playback_values[5];             // 2610
  uint16_t msg52_value25;                  // 2620
  uint16_t msg52_value12;                  // 2622
  uint8_t msg52_byte11;                    // 2624
  uint8_t sibling_status[2];               // 2625, 2626
  uint8_t shot_mode;                       // 2627
  uint8_t shot_submode;                    // 2628
  uint8_t reserved_2629;
  uint16_t timelapse_interval;             // 2630
  uint16_t timelapse_duration;             // 2632
  uint8_t reserved_2634[2];
  uint8_t shield_closed;                   // 2636
  uint8_t reserved_2637[3];
  int32_t time_source_count;               // 2640
  uint8_t reserved_2644[28];
  double time_source_value;                // 2672
  uint8_t reserved_2680[2];
  char last_media_file[40];                // 2682
  uint8_t reserved_2722[6];
};

static_assert(sizeof(HudState) == 2728);
static_assert(std::is_trivially_copyable_v<HudState>);
static_assert(offsetof(HudState, marker) == 0);
static_assert(offsetof(HudState, title) == 1);
static_assert(offsetof(HudState, camera_status_valid) == 129);
static_assert(offsetof(HudState, camera_state) == 130);
static_assert(offsetof(HudState, client_count) == 187);
static_assert(offsetof(HudState, data_connected) == 188);
static_assert(offsetof(HudState, telemetry_connected) == 189);
static_assert(offsetof(HudState, video_connected) == 190);
static_assert(offsetof(HudState, telemetry_text) == 191);
static_assert(offsetof(HudState, video_text) == 319);
static_assert(offsetof(HudState, version_text) == 605);
static_assert(offsetof(HudState, osd_enabled) == 625);
static_assert(offsetof(HudState, hud_visible) == 626);
static_assert(offsetof(HudState, internal_camera_enabled) == 627);
static_assert(offsetof(HudState, internal_camera_fullscreen) == 628);
static_assert(offsetof(HudState, focus_assistant_enabled) == 629);
static_assert(offsetof(HudState, tilt_rad) == 640);
static_assert(offsetof(HudState, dutch_rad) == 648);
static_assert(offsetof(HudState, pan_rad) == 656);
static_assert(offsetof(HudState, tilt_sin) == 664);
static_assert(offsetof(HudState, tilt_cos) == 672);
static_assert(offsetof(HudState, dutch_sin) == 680);
static_assert(offsetof(HudState, dutch_cos) == 688);
static_assert(offsetof(HudState, pan_sin) == 696);
static_assert(offsetof(HudState, pan_cos) == 704);
static_assert(offsetof(HudState, tilt_text) == 712);
static_assert(offsetof(HudState, dutch_text) == 722);
static_assert(offsetof(HudState, pan_text) == 732);
static_assert(offsetof(HudState, attitude_updating) == 742);
static_assert(offsetof(HudState, focus_point_x) == 744);
static_assert(offsetof(HudState, focus_point_y) == 752);
static_assert(offsetof(HudState, camera_updates_begun) == 760);
static_assert(offsetof(HudState, camera_updates_done) == 764);
static_assert(offsetof(HudState, other_updates_begun) == 768);
static_assert(offsetof(HudState, other_updates_done) == 772);
static_assert(offsetof(HudState, rc_input_status) == 887);
static_assert(offsetof(HudState, show_rc_channels) == 888);
static_assert(offsetof(HudState, rc_channel_values) == 890);
static_assert(offsetof(HudState, rc_channel_map) == 954);
static_assert(offsetof(HudState, rc_function_active) == 986);
static_assert(offsetof(HudState, rc_function_value) == 1056);
static_assert(offsetof(HudState, rc_function_position) == 1312);
static_assert(offsetof(HudState, rc_suspended) == 1568);
static_assert(offsetof(HudState, command_mailbox) == 1570);
static_assert(offsetof(HudState, camera_status_flags) == 2379);
static_assert(offsetof(HudState, status_byte42) == 2380);
static_assert(offsetof(HudState, status_byte13) == 2381);
static_assert(offsetof(HudState, status_value20) == 2384);
static_assert(offsetof(HudState, counter22) == 2388);
static_assert(offsetof(HudState, status_value24) == 2392);
static_assert(offsetof(HudState, status_value28) == 2396);
static_assert(offsetof(HudState, status_value40) == 2400);
static_assert(offsetof(HudState, orientation_locked) == 2402);
static_assert(offsetof(HudState, work_mode) == 2403);
static_assert(offsetof(HudState, settings_value54) == 2404);
static_assert(offsetof(HudState, settings_byte16) == 2406);
static_assert(offsetof(HudState, video_format_a) == 2407);
static_assert(offsetof(HudState, video_format_b) == 2408);
static_assert(offsetof(HudState, settings_byte34) == 2409);
static_assert(offsetof(HudState, settings_byte35) == 2410);
static_assert(offsetof(HudState, exposure_compensation) == 2411);
static_assert(offsetof(HudState, settings_byte42) == 2412);
static_assert(offsetof(HudState, settings_code38) == 2414);
static_assert(offsetof(HudState, settings_byte31) == 2416);
static_assert(offsetof(HudState, settings_byte21) == 2417);
static_assert(offsetof(HudState, settings_flag66) == 2418);
static_assert(offsetof(HudState, settings_byte43) == 2419);
static_assert(offsetof(HudState, settings_value51) == 2420);
static_assert(offsetof(HudState, shutter_code) == 2424);
static_assert(offsetof(HudState, aperture) == 2432);
static_assert(offsetof(HudState, settings_byte23) == 2440);
static_assert(offsetof(HudState, settings_byte67) == 2441);
static_assert(offsetof(HudState, focus_valid) == 2442);
static_assert(offsetof(HudState, focus_mode) == 2443);
static_assert(offsetof(HudState, focus_flag) == 2444);
static_assert(offsetof(HudState, focus_percent) == 2445);
static_assert(offsetof(HudState, focus_value) == 2448);
static_assert(offsetof(HudState, focus_x) == 2456);
static_assert(offsetof(HudState, focus_y) == 2464);
static_assert(offsetof(HudState, focus_byte32) == 2472);
static_assert(offsetof(HudState, af_unlimited) == 2473);
static_assert(offsetof(HudState, camera_data64) == 2475);
static_assert(offsetof(HudState, camera_data64_ms) == 2604);
static_assert(offsetof(HudState, playback_state) == 2608);
static_assert(offsetof(HudState, playback_values) == 2610);
static_assert(offsetof(HudState, msg52_value25) == 2620);
static_assert(offsetof(HudState, msg52_value12) == 2622);
static_assert(offsetof(HudState, msg52_byte11) == 2624);
static_assert(offsetof(HudState, sibling_status) == 2625);
static_assert(offsetof(HudState, shot_mode) == 2627);
static_assert(offsetof(HudState, shot_submode) == 2628);
static_assert(offsetof(HudState, timelapse_interval) == 2630);
static_assert(offsetof(HudState, timelapse_duration) == 2632);
static_assert(offsetof(HudState, shield_closed) == 2636);
static_assert(offsetof(HudState, time_source_count) == 2640);
static_assert(offsetof(HudState, time_source_value) == 2672);
static_assert(offsetof(HudState, last_media_file) == 2682);

// The shared fields sit at multiples of their size, for whole loads and stores.
static_assert(offsetof(HudState, tilt_rad) % 8 == 0 && offsetof(HudState, focus_point_x) % 8 == 0 &&
              offsetof(HudState, focus_x) % 8 == 0 && offsetof(HudState, focus_y) % 8 == 0);
static_assert(offsetof(HudState, timelapse_interval) % 2 == 0 && offsetof(HudState, timelapse_duration) % 2 == 0 &&
              offsetof(HudState, camera_data64_ms) % 4 == 0 && offsetof(HudState, rc_function_value) % 8 == 0);
static_assert(offsetof(HudState, camera_updates_begun) % 4 == 0 && offsetof(HudState, other_updates_begun) % 4 == 0);

// The marker start-up writes once it has cleared and filled the record.
constexpr uint8_t kHudMarker = 2;

// The record's angles are degrees times the single-precision value of pi/180,
// widened, as the display processes expect.
constexpr double kRadiansPerDegree = static_cast<double>(static_cast<float>(3.14159265358979323846 / 180.0));
static_assert(kRadiansPerDegree == 0.01745329238474369);
constexpr double DegreesOfHudRadians(double radians) { return radians / kRadiansPerDegree; }

// Opens or creates "/hud_mem" (the daemon's own: MapOwnedSharedMemory) and
// maps it; called once at start-up.
void MapHudState();

// The record, to read. Before MapHudState (and in unit tests that never map
// the object) this is a private record in static storage, so callers never
// see null.
const HudState* GetHudState();

// One try of the consistency rule above: copies live into *out and says
// whether no update of the daemon overlapped the copy.
bool TakeConsistentHudCopy(const HudState* live, HudState* out);

// --- Start-up, before the other threads run.

// The whole record zero, then the marker, the title and the version text.
void StartHudRecord(const char* title, const char* version_text);
// The display flags copied from the settings.
void StoreHudDisplayFlags(uint8_t osd, uint8_t hud_visible, uint8_t internal_camera, uint8_t internal_fullscreen,
                          uint8_t focus_assistant);

// --- Camera receive thread only (its own pair of counters).

// One attitude report: for each axis its text ("%1.0f" degrees), radians,
// sine and cosine; and whether the gimbal's orientation is locked.
void StoreHudAttitude(double pan_degrees, double tilt_degrees, double dutch_degrees, uint8_t orientation_locked);
void StoreHudCounter22(uint32_t value);

struct HudCameraStatus {
  uint8_t flags;
  uint8_t state;
  uint8_t work_mode;
  uint8_t byte42;
  uint8_t byte13;
  uint32_t value20;
  uint32_t value24;
  uint32_t value28;
  uint16_t value40;
};
// One status report; camera_status_valid becomes 1.
void StoreHudCameraStatus(const HudCameraStatus& status);

void StoreHudLensValues(uint16_t value25, uint16_t value12, uint8_t byte11);

struct HudFocusReport {
  int8_t percent;
  uint8_t mode;
  uint8_t flag;
  uint8_t byte32;
  double value;
  double x;
  double y;
};
// One focus report; focus_valid becomes 1.
void StoreHudFocusReport(const HudFocusReport& focus);

void StoreHudPlayback(uint8_t state, const uint16_t (&values)[5]);
void StoreHudDataBlock(const uint8_t (&bytes)[64], uint32_t arrival_ms);

// One settings report: the settings fields (settings_value54 to
// settings_byte67), the shot mode and submode and the time-lapse pair, copied
// from those fields of `from` (the message handler fills them by its table).
void StoreHudSettings(const HudState& from);

// --- Other writers (the shared pair of counters).

// The camera data link: both link flags, and camera_status_valid 0.
void StoreHudDataLink(uint8_t up);
void StoreHudTelemetryText(const char* text);
// The title and version texts emptied (while the link is up, and when control is off).
void ClearHudIdentity();
// The data block's time, 0 once it is stale.
void ClearHudDataBlockTime();
void StoreHudVideoConnected(uint8_t connected);
void StoreHudVideoText(const char* text);
void StoreHudClientCount(uint8_t count);
void StoreHudLastMediaFile(const char* text);
void StoreHudShieldClosed(uint8_t closed);

// The one-byte display flags that settings, commands and the RC change.
enum class HudFlag : uint8_t {
  kNone,
  kOsd,
  kHudVisible,
  kInternalCamera,
  kInternalCameraFullscreen,
  kFocusAssistant,
  kShowRcChannels,
  kRcInputStatus,
};
void StoreHudFlag(HudFlag flag, uint8_t value);
void StoreHudRcChannelMap(const uint8_t (&map)[kRcChannelCount]);

// The AF point the HUD shows (0 to 1), and whether AF is unlimited.
void StoreHudFocusPoint(double x, double y);
void StoreHudAfUnlimited(uint8_t unlimited);

// The 512 mailbox bytes, which other programs write and the mailbox thread
// empties in place by the handshake of clients/mailbox.h.
char* HudCommandMailbox();

// Back to zero, for the tests' reset of every record.
void ClearHudRecord();
