#include "platform/owned_shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"

namespace {

constexpr mode_t kOwnMode = 0600;

bool OwnObject(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 07777) == kOwnMode && st.st_nlink == 1;
}

// A fresh object, or -1. Another process may put one there between the
// removal and the creation: then it is removed again, a few times at most.
int CreateFresh(const char* name) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    shm_unlink(name);
    const int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, kOwnMode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

void* MapOwnedSharedMemory(const char* name, size_t size) {
  // shm_open adds O_NOFOLLOW: a link put in the object's place fails here and is replaced.
  int fd = shm_open(name, O_RDWR | O_CREAT, kOwnMode);
  struct stat st{};
  if (fd >= 0 && fstat(fd, &st) == 0 && !OwnObject(st)) {
    LogWarning("shared record %s was not the daemon's own (owner %u, mode %04o): made afresh\n", name,
               static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_mode & 07777));
    close(fd);
    fd = CreateFresh(name);
  } else if (fd < 0) {
    fd = CreateFresh(name);
  }
  if (fd < 0) {
    LogError("shared record %s not opened (%s)\n", name, strerror(errno));
    return nullptr;
  }
  // The umask may have taken bits the mode must have; and none are added.
  if (fchmod(fd, kOwnMode) != 0 || fstat(fd, &st) != 0 ||
      // Mapping an object shorter than the record would fault on first touch.
      (st.st_size < static_cast<off_t>(size) && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    LogError("shared record %s not made ready (%s)\n", name, strerror(errno));
    close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return p == MAP_FAILED ? nullptr : p;
}
