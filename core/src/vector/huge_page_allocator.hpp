#pragma once
// An allocator for the large arrays that searches read at random (vector rows): blocks of 4 MiB
// and more are aligned to 2 MiB and marked for transparent huge pages, so that a random row costs
// a cache miss but rarely also a page-table walk. Small blocks come from malloc.

#include <cstddef>
#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace tarnwick {

template <class T>
class HugePageAllocator {
 public:
  using value_type = T;

  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) {}  // NOLINT(google-explicit-constructor)

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    void* p;
    if (bytes >= kHugeThreshold) {
      const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
      p = std::aligned_alloc(kHugePage, rounded);
      if (p != nullptr) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: failure changes nothing
    } else {
      p = std::malloc(bytes == 0 ? 1 : bytes);  // malloc(0) may return null
    }
    if (p == nullptr) throw std::bad_alloc();  // out of memory, as std::allocator reports it
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) { std::free(p); }

  friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }

 private:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  static constexpr std::size_t kHugeThreshold = std::size_t{4} << 20;
};

}  // namespace tarnwick
