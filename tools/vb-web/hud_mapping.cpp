#include "hud_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <thread>

HudMapping::HudMapping(std::string name) : name_(std::move(name)) {}

HudMapping::~HudMapping() {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  UnmapLocked();
}

void HudMapping::UnmapLocked() {
  if (view_) munmap(const_cast<HudState*>(view_), sizeof(HudState));
  if (writable_) munmap(writable_, sizeof(HudState));
  view_ = nullptr;
  writable_ = nullptr;
  device_ = 0;
  inode_ = 0;
}

bool HudMapping::Refresh() {
  const int fd = shm_open(name_.c_str(), O_RDWR | O_CLOEXEC, 0);
  open_error_ = fd < 0 ? errno : 0;
  struct stat st{};
  // A shorter object would fault on the first read past its end.
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(HudState))) {
    if (fd >= 0) close(fd);
    std::unique_lock<std::shared_mutex> lock(mutex_);
    UnmapLocked();
    return false;
  }
  {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    if (view_ && st.st_dev == device_ && st.st_ino == inode_) {
      close(fd);
      return true;
    }
  }
  void* view = mmap(nullptr, sizeof(HudState), PROT_READ, MAP_SHARED, fd, 0);
  void* writable = mmap(nullptr, sizeof(HudState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  std::unique_lock<std::shared_mutex> lock(mutex_);
  UnmapLocked();
  if (view == MAP_FAILED || writable == MAP_FAILED) {
    if (view != MAP_FAILED) munmap(view, sizeof(HudState));
    if (writable != MAP_FAILED) munmap(writable, sizeof(HudState));
    return false;
  }
  view_ = static_cast<const HudState*>(view);
  writable_ = writable;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  return true;
}

bool HudMapping::Mapped() const {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  return view_ != nullptr;
}

bool HudMapping::Snapshot(HudState* out) const {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  if (!view_) return false;
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::memcpy(out, view_, sizeof *out);
    if (out->attitude_updating == 0) break;
    std::this_thread::yield();
  }
  return true;
}

bool HudMapping::WithMailbox(const std::function<void(char* mailbox)>& f) {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  if (!writable_) return false;
  f(static_cast<char*>(writable_) + offsetof(HudState, command_mailbox));
  return true;
}
