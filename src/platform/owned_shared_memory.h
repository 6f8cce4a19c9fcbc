// The shared-memory objects the daemon publishes ("/hud_mem", "/config_mem"):
// its own, owned by its user with mode 0600, whatever stood there before.
#pragma once

#include <cstddef>

// Opens or creates the object name, at least size bytes, and maps it read and
// write. An object that is not the daemon's own (another owner, another mode,
// more than one link, not a plain object: made by another user before the
// daemon started, who could still write or truncate it) is removed and made
// afresh with O_CREAT | O_EXCL, and that is logged. Mode 0600 whatever the
// umask. nullptr when no such object can be had.
void* MapOwnedSharedMemory(const char* name, size_t size);
