#include "platform/read_only_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

const void* MapReadOnly(const char* name, size_t size, std::string* error) {
  const int fd = shm_open(name, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string(name) + ": " + std::strerror(errno) + " (is the daemon running?)";
    return nullptr;
  }
  struct stat st{};
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(size)) {
    *error = std::string(name) + ": smaller than the " + std::to_string(size) + "-byte record";
    close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    *error = std::string(name) + ": " + std::strerror(errno);
    return nullptr;
  }
  return p;
}
