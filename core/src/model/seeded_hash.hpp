#pragma once
// Hash maps keyed by caller-chosen text use SipHash-1-3 under a random key drawn per map, so
// that nobody can pick ids that collide. Iteration order is therefore unspecified: nothing may
// depend on it.
//
// The maps are open-addressing: a lookup hashes its key once and compares only the entries whose
// stored hash fragment matches, where a chained map rehashed every entry along its bucket. The
// price: an insertion may move every element, so no pointer, reference or iterator into a map
// may be kept across an insertion into that map.

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

class SeededHash {
 public:
  using is_transparent = void;
  // SipHash's output is uniform in every bit, so the maps need not mix it again.
  using is_avalanching = void;

  SeededHash();  // draws a fresh random key
  std::size_t operator()(std::string_view s) const noexcept;

 private:
  std::uint64_t k0_;
  std::uint64_t k1_;
};

template <class V>
using TextMap = boost::unordered_flat_map<std::string, V, SeededHash, std::equal_to<>>;
using TextSet = boost::unordered_flat_set<std::string, SeededHash, std::equal_to<>>;

}  // namespace tarnwick
