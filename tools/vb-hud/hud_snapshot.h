// Read-only access to the status record "/hud_mem" and the values vb-hud
// derives from it, shared by the live screen and the JSON snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "records/hud_state.h"
#include "records/stream_status.h"

// Maps the shared-memory object read-only (O_RDONLY, PROT_READ): this tool
// can never change what the daemon and its siblings share. nullptr and a
// reason in *error when the object is missing or too small for the record.
const HudState* MapHudReadOnly(const char* name, std::string* error);

// A copy of the live record. The attitude group is copied again while its
// writer marks it as being rewritten, so pan, tilt and dutch belong together.
HudState TakeHudSnapshot(const HudState* live);

// A text field of the record: up to its NUL or the field's end, with bytes
// that are not UTF-8 replaced by '?', so the text is safe on a terminal and in JSON.
std::string RecordText(const char* field, size_t size);

double Degrees(double radians);
bool IsRecording(const HudState& s);  // status byte 11, bits 7-6 = 2
const char* WorkModeName(uint8_t work_mode);
std::string ShutterText(uint32_t code);
// The RC function of a channel's map code, "-" when none is assigned.
const char* RcMapWord(uint8_t code);

// One snapshot as a JSON object on one line (non-finite numbers as null),
// with the live video's state as vb-stream published it.
std::string HudSnapshotJson(const HudState& s, const char* record_name, const StreamStatus& stream);
