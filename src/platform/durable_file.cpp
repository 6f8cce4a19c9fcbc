#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr mode_t kOwnerOnly = 0600;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Closes fd and returns failed, keeping the errno of the failure.
const char* CloseKeepingError(int fd, const char* failed) {
  const int error = errno;
  if (close(fd) != 0 && failed == nullptr) return "flush";
  errno = error;
  return failed;
}

}  // namespace

FileRead ReadWholeFile(const std::string& path, std::string* text) {
  text->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::kMissing : FileRead::kUnreadable;
  char buffer[4096];
  while (text->size() < kMaxReadBytes) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return FileRead::kUnreadable;
    }
    if (n == 0) break;
    text->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (text->size() > kMaxReadBytes) text->resize(kMaxReadBytes);
  return FileRead::kRead;
}

const char* WriteFileInPlace(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kOwnerOnly);
  if (fd < 0) return "create";
  // An existing file keeps its mode through O_TRUNC. A FAT partition takes
  // its modes from the mount options and may refuse: that is no failure.
  fchmod(fd, kOwnerOnly);
  if (!WriteAll(fd, text)) return CloseKeepingError(fd, "write");
  if (fsync(fd) != 0) return CloseKeepingError(fd, "flush");
  return CloseKeepingError(fd, nullptr);
}

const char* ReplaceFileWhole(const std::string& path, const std::string& text) {
  const std::string temp_path = path + ".tmp";
  unlink(temp_path.c_str());  // a leftover of another owner or mode is not reused
  const char* failed = WriteFileInPlace(temp_path, text);
  if (failed == nullptr && rename(temp_path.c_str(), path.c_str()) != 0) failed = "rename";
  if (failed != nullptr) {
    const int error = errno;
    unlink(temp_path.c_str());
    errno = error;
    return failed;
  }
  SyncFolderOf(path);
  return nullptr;
}

bool SyncFolderOf(const std::string& path) {
  const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  const int error = errno;
  close(fd);
  errno = error;
  return synced;
}

void RestrictToOwner(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  struct stat st{};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) != kOwnerOnly) fchmod(fd, kOwnerOnly);
  close(fd);
}
