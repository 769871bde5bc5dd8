#pragma once
// Hash maps keyed by caller-chosen text use SipHash-1-3 under a random key drawn per map, so
// that nobody can pick ids that collide. Iteration order is therefore unspecified: nothing may
// depend on it.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace tarnwick {

class SeededHash {
 public:
  using is_transparent = void;

  SeededHash();  // draws a fresh random key
  std::size_t operator()(std::string_view s) const noexcept;

 private:
  std::uint64_t k0_;
  std::uint64_t k1_;
};

template <class V>
using TextMap = std::unordered_map<std::string, V, SeededHash, std::equal_to<>>;
using TextSet = std::unordered_set<std::string, SeededHash, std::equal_to<>>;

}  // namespace tarnwick
