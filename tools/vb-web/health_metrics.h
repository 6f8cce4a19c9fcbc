// The health record as Prometheus text (exposition format 0.0.4) for GET
// /metrics. A value the board does not have is left out, never shown as 0.
#pragma once

#include <cstdint>
#include <string>

#include "records/health_record.h"

// health: nullptr when the record could not be read (then only
// vantagebridge_health_up 0); now_ms: HealthClockMs().
std::string HealthMetrics(const HealthRecord* health, uint64_t now_ms);
