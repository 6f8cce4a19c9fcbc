#include "records/shared_config.h"

namespace {
SharedConfig g_shared_config;
}

SharedConfig* GetSharedConfig() { return &g_shared_config; }
