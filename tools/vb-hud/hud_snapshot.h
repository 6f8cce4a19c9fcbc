// The values vb-hud derives from a copy of the status record "/hud_mem"
// (taken by ../common/hud_reader.h), shared by the live screen and the JSON
// snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "records/hud_state.h"
#include "records/stream_status.h"

// A text field of the record: up to its NUL or the field's end, with bytes
// that are not UTF-8 replaced by '?', so the text is safe on a terminal and in JSON.
std::string RecordText(const char* field, size_t size);

bool IsRecording(const HudState& s);  // status byte 11, bits 7-6 = 2
const char* WorkModeName(uint8_t work_mode);
std::string ShutterText(uint32_t code);
// The RC function of a channel's map code, "-" when none is assigned.
const char* RcMapWord(uint8_t code);

// One snapshot as a JSON object on one line (non-finite numbers as null),
// with whether it is a whole copy (no update of the daemon overlapped it) and
// the live video's state as vb-stream published it.
std::string HudSnapshotJson(const HudState& s, bool consistent, const char* record_name, const StreamStatus& stream);
