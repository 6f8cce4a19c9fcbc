// The camera's periodic messages, built from the simulated camera's state with
// the lengths the box's parser tells them apart by.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim_camera.h"

enum TelemetryKind {
  kTelemetryAttitude,
  kTelemetryStatus,
  kTelemetrySettings,
  kTelemetryFocus,
  kTelemetryLens,
  kTelemetryPlayback,
  kTelemetryDataBlock,
  kTelemetryCounter,
  kTelemetryKindCount
};

struct TelemetryInfo {
  const char* name;      // as given to --rate NAME=HZ
  double default_hz;
  uint8_t lengths[2];    // sent alternately where the camera has two forms
};

extern const TelemetryInfo kTelemetryInfo[kTelemetryKindCount];

// Looks a kind up by name; -1 when unknown.
int TelemetryKindByName(const char* name);

// Builds one message of the kind into out (at least 255 bytes); variant picks
// between the two lengths. Returns the frame length.
size_t BuildTelemetry(int kind, int variant, const SimCamera& cam, uint16_t sequence, uint8_t* out);
