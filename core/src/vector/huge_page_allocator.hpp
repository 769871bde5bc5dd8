#pragma once
// An allocator for the large arrays that searches read at random (vector rows, link rows): blocks
// of 4 MiB and more are mapped from the system on their own, aligned to 2 MiB and marked for
// transparent huge pages, so that a random row costs a cache miss but rarely also a page-table
// walk. Such a block goes straight back to the system when freed: a growing array leaves no freed
// copies behind in the heap, where they would stay resident. Small blocks come from malloc.

#include <cstddef>
#include <cstdint>
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
    void* p = bytes >= kHugeThreshold ? map_aligned(rounded(bytes)) : std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) throw std::bad_alloc();  // out of memory, as std::allocator reports it
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= kHugeThreshold) {
      munmap(p, rounded(bytes));
    } else {
      std::free(p);
    }
  }

  friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }

 private:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  static constexpr std::size_t kHugeThreshold = std::size_t{4} << 20;

  static std::size_t rounded(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

  // Maps one huge page more than asked and unmaps the unaligned ends; null when out of memory.
  static void* map_aligned(std::size_t size) {
    void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned != start) munmap(mapped, aligned - start);
    if (const std::size_t tail = start + kHugePage - aligned; tail != 0) {
      munmap(reinterpret_cast<void*>(aligned + size), tail);
    }
    void* p = reinterpret_cast<void*>(aligned);
    madvise(p, size, MADV_HUGEPAGE);  // a hint: failure changes nothing
    return p;
  }
};

}  // namespace tarnwick
