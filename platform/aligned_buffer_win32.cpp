#include <malloc.h>

#include <cstdint>

#include "platform/aligned_buffer.h"

namespace platform {

// The C runtime's aligned blocks must go back through _aligned_free, never free. msvcrt's
// _aligned_malloc adds the alignment and a pointer to the size without checking for overflow,
// so a size near the top of the address space is refused here.
void* allocateAligned(size_t size) noexcept {
  if (size == 0 || size > SIZE_MAX - 2 * kPageBytes) return nullptr;
  return ::_aligned_malloc(size, kPageBytes);
}

void freeAligned(void* memory) noexcept { ::_aligned_free(memory); }

}  // namespace platform
