#include "model/seeded_hash.hpp"

#include <bit>
#include <cstring>
#include <random>

namespace tarnwick {

namespace {

// Keys come from a per-thread generator seeded once from the system's random source: a store
// builds a set per node and per index key, and asking the random device for each would cost more
// than the sets themselves. SplitMix64 gives every map a different, unpredictable key.
std::uint64_t random_word() {
  thread_local std::uint64_t state = [] {
    std::random_device device;
    return (std::uint64_t{device()} << 32) ^ device();
  }();
  std::uint64_t z = (state += 0x9e3779b97f4a7c15);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
  z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
  return z ^ (z >> 31);
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;
  void round() {
    v0 += v1; v1 = std::rotl(v1, 13); v1 ^= v0; v0 = std::rotl(v0, 32);
    v2 += v3; v3 = std::rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = std::rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = std::rotl(v1, 17); v1 ^= v2; v2 = std::rotl(v2, 32);
  }
  void absorb(std::uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
};

std::uint64_t load_le(const unsigned char* p, std::size_t n) {
  std::uint64_t m = 0;
  for (std::size_t i = 0; i < n; ++i) m |= std::uint64_t{p[i]} << (8 * i);
  return m;
}

}  // namespace

SeededHash::SeededHash() : k0_(random_word()), k1_(random_word()) {}

// SipHash-1-3: one compression round per word, three finalisation rounds.
std::size_t SeededHash::operator()(std::string_view s) const noexcept {
  SipState st{k0_ ^ 0x736f6d6570736575ULL, k1_ ^ 0x646f72616e646f6dULL, k0_ ^ 0x6c7967656e657261ULL,
              k1_ ^ 0x7465646279746573ULL};
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) st.absorb(load_le(p + i, 8));
  st.absorb(load_le(p + i, n - i) | (std::uint64_t{n & 0xff} << 56));
  st.v2 ^= 0xff;
  st.round();
  st.round();
  st.round();
  return static_cast<std::size_t>(st.v0 ^ st.v1 ^ st.v2 ^ st.v3);
}

}  // namespace tarnwick
