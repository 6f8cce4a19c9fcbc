#include "hud_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

HudObjectMapping::HudObjectMapping(std::string name, bool writable) : name_(std::move(name)), writable_(writable) {}

HudObjectMapping::~HudObjectMapping() {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  UnmapLocked();
}

void HudObjectMapping::UnmapLocked() {
  if (base_) munmap(base_, sizeof(HudState));
  base_ = nullptr;
  device_ = 0;
  inode_ = 0;
}

bool HudObjectMapping::Refresh(std::string* error) {
  std::string reason;
  const int fd = shm_open(name_.c_str(), (writable_ ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0);
  open_error_ = fd < 0 ? errno : 0;
  struct stat st{};
  if (fd < 0) {
    reason = name_ + ": " + std::strerror(open_error_) + " (is the daemon running?)";
  } else if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(HudState))) {
    reason = name_ + ": smaller than the " + std::to_string(sizeof(HudState)) + "-byte record";
  } else {
    {
      std::shared_lock<std::shared_mutex> lock(mutex_);
      if (base_ && st.st_dev == device_ && st.st_ino == inode_) {
        close(fd);
        return true;
      }
    }
    void* base = mmap(nullptr, sizeof(HudState), writable_ ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (base != MAP_FAILED) {
      close(fd);
      std::unique_lock<std::shared_mutex> lock(mutex_);
      UnmapLocked();
      base_ = base;
      device_ = st.st_dev;
      inode_ = st.st_ino;
      return true;
    }
    reason = name_ + ": " + std::strerror(errno);
  }
  if (fd >= 0) close(fd);
  std::unique_lock<std::shared_mutex> lock(mutex_);
  UnmapLocked();
  if (error) *error = reason;
  return false;
}

bool HudObjectMapping::Mapped() const {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  return base_ != nullptr;
}

HudCopy CopyHud(const HudState* live, HudState* out) {
  for (int attempt = 1; attempt < kHudCopyTries; ++attempt) {
    if (TakeConsistentHudCopy(live, out)) return HudCopy::kConsistent;
    // An update takes microseconds: let its writer finish.
    std::this_thread::yield();
  }
  return TakeConsistentHudCopy(live, out) ? HudCopy::kConsistent : HudCopy::kTorn;
}

HudCopy HudReader::Snapshot(HudState* out) const {
  HudCopy result = HudCopy::kNotMapped;
  mapping_.With([&](void* base) { result = CopyHud(static_cast<const HudState*>(base), out); });
  return result;
}
