#include "records/link_state.h"

namespace {
LinkState g_link_state;
}

LinkState* GetLinkState() { return &g_link_state; }
