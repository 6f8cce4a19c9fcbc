// The health record as one JSON object, for vb-hud --json and vb-web's page:
// an absent value (no such sensor, no video yet) is null, never zero.
#pragma once

#include <cstdint>
#include <string>

#include "records/health_record.h"

// Older than this, the record is stale: its writer has stopped.
constexpr uint64_t kHealthStaleMs = 5000;

// now_ms: HealthClockMs() of the reader, for the record's age.
std::string HealthJson(const HealthRecord& r, uint64_t now_ms);
