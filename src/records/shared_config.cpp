#include "records/shared_config.h"

#include "common/shared_field.h"

namespace {
// Aligned for the whole-number loads and stores of its fields.
alignas(8) SharedConfig g_shared_config;
}

SharedConfig* GetSharedConfig() { return &g_shared_config; }

SharedConfig SnapshotSharedConfig() {
  SharedConfig copy;
  LoadSharedBytes(&copy, &g_shared_config, sizeof copy);
  return copy;
}
