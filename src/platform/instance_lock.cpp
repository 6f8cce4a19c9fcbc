#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/log.h"

namespace {

constexpr mode_t kLockMode = 0600;

// A new lock file in place of whatever stood at path; -1 when none can be made.
int ReplaceLockFile(const char* path) {
  unlink(path);
  return open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kLockMode);
}

// The lock file, the daemon's own: another user's file (or a link, or no plain
// file at all) is replaced, and the mode is 0600 whatever the umask, also for
// a file an older version left readable.
int OpenOwnLockFile(const char* path) {
  int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockMode);
  struct stat st{};
  if (fd < 0 && errno == ELOOP) {
    LogWarning("instance lock %s was a link: replaced\n", path);
    fd = ReplaceLockFile(path);
  } else if (fd >= 0 && fstat(fd, &st) == 0 && (!S_ISREG(st.st_mode) || st.st_uid != geteuid())) {
    LogWarning("instance lock %s belonged to uid %u: replaced\n", path, static_cast<unsigned>(st.st_uid));
    close(fd);
    fd = ReplaceLockFile(path);
  }
  if (fd >= 0) fchmod(fd, kLockMode);
  return fd;
}

// The owner of the process that holds the flock on fd's file, from
// /proc/locks; -1 when it cannot be told.
long LockHolderUid(int fd) {
  struct stat st{};
  if (fstat(fd, &st) != 0) return -1;
  FILE* locks = fopen("/proc/locks", "re");
  if (locks == nullptr) return -1;
  long uid = -1;
  char line[256];
  while (uid < 0 && fgets(line, sizeof line, locks) != nullptr) {
    char kind[16] = {};
    int pid = 0;
    unsigned major_number = 0;
    unsigned minor_number = 0;
    unsigned long inode = 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:5678 0 EOF"; waiters ("1: -> FLOCK ...") do not match.
    if (sscanf(line, "%*d: %15s %*s %*s %d %x:%x:%lu", kind, &pid, &major_number, &minor_number, &inode) != 5 ||
        std::strcmp(kind, "FLOCK") != 0 || pid <= 0 || inode != st.st_ino ||
        major_number != major(st.st_dev) || minor_number != minor(st.st_dev)) {
      continue;
    }
    char process[32];
    snprintf(process, sizeof process, "/proc/%d", pid);
    struct stat holder{};
    if (stat(process, &holder) == 0) uid = static_cast<long>(holder.st_uid);
  }
  fclose(locks);
  return uid;
}

// Takes the lock on fd: 1 taken, 0 held by another process, -1 not possible.
int Lock(int fd) {
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? 0 : -1;
  }
  return 1;
}

}  // namespace

bool TakeInstanceLock(const char* path) {
  int fd = OpenOwnLockFile(path);
  if (fd < 0) {
    LogWarning("instance lock %s not opened (%s), starting without it\n", path, strerror(errno));
    return true;
  }
  int taken = Lock(fd);
  if (taken == 0) {
    // Held by another user (who opened the file while it was still readable):
    // no copy of the daemon, so the file is replaced and the lock taken anew.
    const long holder = LockHolderUid(fd);
    if (holder < 0 || holder == static_cast<long>(geteuid())) {
      close(fd);
      return false;
    }
    LogWarning("instance lock %s held by uid %ld, no copy of the daemon: replaced\n", path, holder);
    close(fd);
    fd = ReplaceLockFile(path);
    taken = fd < 0 ? -1 : Lock(fd);
    if (taken == 0) {
      close(fd);
      return false;
    }
  }
  if (taken < 0) {
    LogWarning("instance lock %s not taken (%s), starting without it\n", path, strerror(errno));
    if (fd >= 0) close(fd);
    return true;
  }
  return true;  // fd stays open, and the lock with it, until the process ends
}
