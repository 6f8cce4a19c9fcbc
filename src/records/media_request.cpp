#include "records/media_request.h"

#include <atomic>

namespace {
std::atomic<bool> g_requested{false};
}

void RequestMediaListing() { g_requested.store(true, std::memory_order_relaxed); }

bool TakeMediaListingRequest() { return g_requested.exchange(false, std::memory_order_relaxed); }
