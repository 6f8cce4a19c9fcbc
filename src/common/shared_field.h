// Relaxed atomic loads and stores for the fields of the packed shared-memory
// records (HudState, SharedConfig) that several threads of the daemon touch.
// Their layout is an interface with other programs, so the fields cannot be
// std::atomic; the compiler's __atomic built-ins give the same relaxed access.
// Only loads and stores, and only on fields whose offset is a multiple of their
// size (each record asserts that for its shared fields) in a record whose base
// is aligned: on ARM a misaligned atomic access may fault or tear.
#pragma once

#include <cstddef>
#include <cstdint>

// Relaxed by default; acquire and release for the counters that tell a reader
// whether a record changed while it copied it.
template <int kOrder = __ATOMIC_RELAXED, typename T>
inline T LoadShared(const T* field) {
  T value;
  __atomic_load(field, &value, kOrder);
  return value;
}

template <int kOrder = __ATOMIC_RELAXED, typename T, typename V>
inline void StoreShared(T* field, V value) {
  T stored = static_cast<T>(value);
  __atomic_store(field, &stored, kOrder);
}

// Adds and returns the value before; for counters several threads advance.
template <int kOrder = __ATOMIC_RELAXED, typename T, typename V>
inline T AddShared(T* field, V amount) {
  return __atomic_fetch_add(field, static_cast<T>(amount), kOrder);
}

template <typename T>
inline T LoadSharedAcquire(const T* field) {
  return LoadShared<__ATOMIC_ACQUIRE>(field);
}

template <typename T, typename V>
inline void StoreSharedRelease(T* field, V value) {
  StoreShared<__ATOMIC_RELEASE>(field, value);
}

// A fence for the update counters: the stores before it are seen before the
// stores after it (release), or the loads before it complete before the loads
// after it (acquire). g++'s ThreadSanitizer does not model fences and refuses
// them; there a sequentially consistent add to a private word stands in. Every
// access it orders is atomic, so neither build has a race to report.
template <int kOrder>
inline void SharedFence() {
#if defined(__SANITIZE_THREAD__)
  static int word;
  __atomic_fetch_add(&word, 0, __ATOMIC_SEQ_CST);
#else
  __atomic_thread_fence(kOrder);
#endif
}

// Byte by byte: a reader may see a text in the middle of a change, but every
// byte it reads is one a writer stored.
inline void LoadSharedBytes(void* to, const void* from, size_t size) {
  auto* out = static_cast<uint8_t*>(to);
  const auto* in = static_cast<const uint8_t*>(from);
  for (size_t i = 0; i < size; ++i) out[i] = __atomic_load_n(in + i, __ATOMIC_RELAXED);
}

inline void StoreSharedBytes(void* to, const void* from, size_t size) {
  auto* out = static_cast<uint8_t*>(to);
  const auto* in = static_cast<const uint8_t*>(from);
  for (size_t i = 0; i < size; ++i) __atomic_store_n(out + i, in[i], __ATOMIC_RELAXED);
}

// CopyTextField (common/wire.h) into a shared field: text cut to size - 1
// characters, the rest of the field zero.
inline void StoreSharedText(char* field, size_t size, const char* text) {
  size_t i = 0;
  for (; i + 1 < size && text[i] != '\0'; ++i) __atomic_store_n(field + i, text[i], __ATOMIC_RELAXED);
  for (; i < size; ++i) __atomic_store_n(field + i, '\0', __ATOMIC_RELAXED);
}
