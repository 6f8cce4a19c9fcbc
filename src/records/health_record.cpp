#include "records/health_record.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "common/shared_field.h"
#include "platform/read_only_mapping.h"

namespace {

alignas(8) HealthRecord g_private_record;  // stands in until "/vb_health" is made
HealthRecord* g_record = &g_private_record;

constexpr size_t kBodyOffset = offsetof(HealthRecord, written_ms);
constexpr int kReadTries = 200;

// A sequence lock without fences: the writer makes the sequence odd, then
// stores each body byte with release, so a reader whose acquire load sees a
// new byte sees the odd sequence after it; the reader loads each byte with
// acquire, so its second look at the sequence cannot move before them. A
// copy between two equal even sequences is whole.
void StoreBody(HealthRecord* to, const HealthRecord& from) {
  auto* out = reinterpret_cast<uint8_t*>(to);
  const auto* in = reinterpret_cast<const uint8_t*>(&from);
  for (size_t i = kBodyOffset; i < sizeof(HealthRecord); ++i) __atomic_store_n(out + i, in[i], __ATOMIC_RELEASE);
}

void LoadBody(const HealthRecord* from, HealthRecord* to) {
  auto* out = reinterpret_cast<uint8_t*>(to);
  const auto* in = reinterpret_cast<const uint8_t*>(from);
  for (size_t i = kBodyOffset; i < sizeof(HealthRecord); ++i) out[i] = __atomic_load_n(in + i, __ATOMIC_ACQUIRE);
}

bool TryCopy(const HealthRecord* live, HealthRecord* out) {
  const uint32_t before = LoadSharedAcquire(&live->sequence);
  if (before & 1u) return false;
  LoadBody(live, out);
  const uint32_t after = LoadShared(&live->sequence);
  out->layout = LoadShared(&live->layout);
  out->sequence = after;
  return before == after;
}

}  // namespace

uint64_t HealthClockMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void CreateHealthRecord() {
  shm_unlink(kHealthRecordName);
  const int fd = shm_open(kHealthRecordName, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // The mode asked for is cut by the umask; readers need it as asked.
  fchmod(fd, 0644);
  if (ftruncate(fd, sizeof(HealthRecord)) != 0) {
    close(fd);
    return;
  }
  void* p = mmap(nullptr, sizeof(HealthRecord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) return;
  g_record = static_cast<HealthRecord*>(p);
  StoreShared(&g_record->layout, kHealthLayout);
}

void PublishHealthRecord(const HealthRecord& values) {
  HealthRecord* live = g_record;
  const uint32_t sequence = LoadShared(&live->sequence);
  StoreShared(&live->sequence, sequence + 1);
  StoreBody(live, values);
  StoreShared(&live->layout, kHealthLayout);
  StoreSharedRelease(&live->sequence, sequence + 2);
}

HealthRecord OwnHealthRecord() {
  HealthRecord copy{};
  while (!TryCopy(g_record, &copy)) {
  }
  return copy;
}

bool ReadHealthRecord(const char* name, HealthRecord* out, std::string* error) {
  const void* p = MapReadOnly(name, sizeof(HealthRecord), error);
  if (p == nullptr) return false;
  const auto* live = static_cast<const HealthRecord*>(p);
  bool copied = false;
  for (int i = 0; i < kReadTries && !copied; ++i) {
    copied = TryCopy(live, out);
    if (!copied) {
      const timespec pause{0, 200 * 1000};
      nanosleep(&pause, nullptr);
    }
  }
  munmap(const_cast<void*>(p), sizeof(HealthRecord));
  if (!copied) {
    *error = std::string(name) + ": changed all the while it was read";
    return false;
  }
  if (out->layout != kHealthLayout) {
    *error = std::string(name) + ": layout " + std::to_string(out->layout) + ", this program reads " +
             std::to_string(kHealthLayout);
    return false;
  }
  return true;
}
