// Another process's shared-memory record, mapped read-only: whoever maps it
// this way can never change it.
#pragma once

#include <cstddef>
#include <string>

// The object name mapped read-only (O_RDONLY, PROT_READ), size bytes; nullptr
// and a reason in *error when it is missing or smaller than size (reading
// past its end would kill the reader with SIGBUS). Unmapped with munmap.
const void* MapReadOnly(const char* name, size_t size, std::string* error);
