// Whole-file reads and writes for files that hold settings: every write reaches
// the device before it returns, and every file written is readable by its
// owner only (mode 0600 whatever the umask), as they hold Wi-Fi passwords.
#pragma once

#include <string>

enum class FileRead { kRead, kMissing, kUnreadable };

// Reads the whole file, or its first kMaxReadBytes when it is longer.
inline constexpr size_t kMaxReadBytes = 1 << 20;
FileRead ReadWholeFile(const std::string& path, std::string* text);

// Creates or truncates the file and writes text into it where it lies, then
// flushes it (fsync). Returns nullptr when done, else the step that failed
// ("create", "write", "flush") with errno telling why.
const char* WriteFileInPlace(const std::string& path, const std::string& text);

// Writes text to a new file beside path, flushed, and renames it over path: a
// reader sees the old file or the new one, whole (on a file system whose
// rename is atomic). Returns as WriteFileInPlace, "rename" for the last step.
const char* ReplaceFileWhole(const std::string& path, const std::string& text);

// Flushes the folder holding path, so that a name created or removed in it
// reaches the device. False (errno set) when it could not be.
bool SyncFolderOf(const std::string& path);

// Makes an existing file readable by its owner only; nothing when it is missing.
void RestrictToOwner(const std::string& path);
