#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool TakeInstanceLock(const char* path) {
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "instance lock %s not opened (%s), starting without it\n", path, strerror(errno));
    return true;
  }
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const bool held_elsewhere = errno == EWOULDBLOCK;
    close(fd);
    if (held_elsewhere) return false;
    fprintf(stderr, "instance lock %s not taken (%s), starting without it\n", path, strerror(errno));
    return true;
  }
  return true;  // fd stays open, and the lock with it, until the process ends
}
