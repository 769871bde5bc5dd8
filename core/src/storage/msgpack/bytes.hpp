#pragma once
// The byte buffer that files are read into and encoded into. Growing it leaves the new bytes
// uninitialised: every byte is written by a reader or an encoder right after, and a snapshot of
// hundreds of megabytes should not be zeroed first.

#include <cstdint>
#include <memory>
#include <vector>

namespace tarnwick {

template <class T>
struct UninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitialisedAllocator<U>;
  };
  UninitialisedAllocator() = default;
  template <class U>
  UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}  // NOLINT(google-explicit-constructor)

  // Value-initialisation (as by resize) does nothing; any other construction is the usual one.
  template <class U>
  void construct(U*) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    std::construct_at(p, std::forward<Args>(args)...);
  }
};

using Bytes = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

}  // namespace tarnwick
