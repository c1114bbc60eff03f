// The memory of the buffers that carry a large answer body: filled once, read once.
// Filling fresh memory costs a page fault per page, which on a small virtual machine
// costs more than the copy itself; a huge page takes one fault for 512 pages. Where
// the system has no such advice (or no huge pages to give) these only reserve.
// Plain functions on buffers the caller owns; any thread.
#pragma once

#include <cstdint>

#include "text/text.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zemlaro {

inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
// Room from this size up is worth the advice.
inline constexpr std::size_t kLargeBufferBytes = 2 * kHugePageBytes;

namespace detail {

// An address rounded up, and down, to a huge page boundary.
inline std::uintptr_t HugePageUp(const void* at) {
  return (reinterpret_cast<std::uintptr_t>(at) + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
}
inline std::uintptr_t HugePageDown(const void* at) {
  return reinterpret_cast<std::uintptr_t>(at) & ~(kHugePageBytes - 1);
}

}  // namespace detail

// Room for `size` bytes in `buffer`; large room is asked to be backed by huge pages.
inline void ReserveLarge(Bytes& buffer, std::size_t size) {
  buffer.reserve(size);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (buffer.capacity() < kLargeBufferBytes) return;
  const std::uintptr_t begin = detail::HugePageUp(buffer.data());
  const std::uintptr_t end = detail::HugePageDown(buffer.data() + buffer.capacity());
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

// Gives the system back the memory of the first `read` bytes of `buffer`, which will
// not be read again, in whole huge pages; `released` is how far that went before
// (0 for a fresh buffer) and is moved on. Those bytes then read as zero.
inline void ReleaseRead(Bytes& buffer, std::size_t read, std::size_t& released) {
#if defined(__linux__) && defined(MADV_DONTNEED)
  if (read < released + kHugePageBytes) return;
  const std::uintptr_t begin = detail::HugePageUp(buffer.data() + released);
  const std::uintptr_t end = detail::HugePageDown(buffer.data() + read);
  if (end <= begin) return;
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
  released = end - reinterpret_cast<std::uintptr_t>(buffer.data());
#else
  (void)buffer;
  (void)read;
  (void)released;
#endif
}

}  // namespace zemlaro
