#include <malloc.h>

#include "platform/aligned_buffer.h"

namespace platform {

// The C runtime's aligned blocks must go back through _aligned_free, never free.
void* allocateAligned(size_t size) noexcept {
  return size == 0 ? nullptr : ::_aligned_malloc(size, kPageBytes);
}

void freeAligned(void* memory) noexcept { ::_aligned_free(memory); }

}  // namespace platform
