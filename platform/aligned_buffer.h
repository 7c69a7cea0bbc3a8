// Memory for bulk file I/O that starts on a page boundary. The system copies between its page
// cache and a process's memory several times faster when the process's side is page-aligned:
// reading a file in the page cache into a buffer 16 bytes past a page boundary (where a large
// allocation of the C runtime lands) took two to four times as long here as into an aligned one,
// at every chunk size from 64 KiB to 1 MiB. Every buffer that files are read into or written
// from in bulk comes from here. aligned_buffer_posix.cpp and aligned_buffer_win32.cpp define the
// two functions.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace platform {

inline constexpr size_t kPageBytes = 4096;

// `size` bytes at a multiple of kPageBytes, uninitialised; none when the memory cannot be had
// (or `size` is 0). Never throws. Free with freeAligned, which takes none as well.
[[nodiscard]] void* allocateAligned(size_t size) noexcept;
void freeAligned(void* memory) noexcept;

// One owned block from allocateAligned. A buffer that could not be had is empty: false,
// data() none, size() 0; the callers report that as the lack of memory it is.
class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  explicit AlignedBuffer(size_t size) noexcept
      : data_(static_cast<unsigned char*>(allocateAligned(size))), size_(data_ ? size : 0) {}
  ~AlignedBuffer() { freeAligned(data_); }
  AlignedBuffer(AlignedBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  AlignedBuffer& operator=(AlignedBuffer&& other) noexcept {
    if (this != &other) {
      freeAligned(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;

  explicit operator bool() const { return data_ != nullptr; }
  unsigned char* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

// The same memory for a standard container whose bytes are written to a file whole. Containers
// report a failed allocation by throwing, as they do with the default allocator.
template <class T>
struct PageAlignedAllocator {
  using value_type = T;
  PageAlignedAllocator() = default;
  template <class U>
  PageAlignedAllocator(const PageAlignedAllocator<U>&) noexcept {}
  T* allocate(size_t count) {
    if (count > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    void* memory = allocateAligned(count * sizeof(T));
    if (!memory) throw std::bad_alloc();
    return static_cast<T*>(memory);
  }
  void deallocate(T* memory, size_t) noexcept { freeAligned(memory); }
  template <class U>
  bool operator==(const PageAlignedAllocator<U>&) const noexcept { return true; }
  template <class U>
  bool operator!=(const PageAlignedAllocator<U>&) const noexcept { return false; }
};

}  // namespace platform
