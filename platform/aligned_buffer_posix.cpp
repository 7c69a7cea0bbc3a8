#include <cstdlib>

#include "platform/aligned_buffer.h"

namespace platform {

void* allocateAligned(size_t size) noexcept {
  void* memory = nullptr;
  if (size == 0 || ::posix_memalign(&memory, kPageBytes, size) != 0) return nullptr;
  return memory;
}

void freeAligned(void* memory) noexcept { std::free(memory); }

}  // namespace platform
