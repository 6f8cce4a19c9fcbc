#include "records/hud_state.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
alignas(8) HudState g_private_hud;  // stands in until "/hud_mem" is mapped
HudState* g_hud = &g_private_hud;
}  // namespace

void MapHudState() {
  int fd = shm_open("/hud_mem", O_RDWR, 0600);
  if (fd < 0) {
    fd = shm_open("/hud_mem", O_RDWR | O_CREAT, 0600);
    if (fd >= 0 && ftruncate(fd, sizeof(HudState)) != 0) {
      // A failed resize leaves a mapping that faults on use: keep the private record.
      close(fd);
      return;
    }
  }
  if (fd < 0) return;
  // An existing object is reused as it is, unless it is too small to hold the
  // record: touching a page past its end would kill the process.
  struct stat st{};
  if (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(sizeof(HudState)) &&
      ftruncate(fd, sizeof(HudState)) != 0) {
    close(fd);
    return;
  }
  void* p = mmap(nullptr, sizeof(HudState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p != MAP_FAILED) g_hud = static_cast<HudState*>(p);
}

HudState* GetHudState() { return g_hud; }
