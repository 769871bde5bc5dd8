#pragma once
// The building blocks of the pull readers: map keys matched against a fixed table, and the
// "first pair with this key counts" walk over a map's pairs.

#include <cstdint>
#include <string_view>

#include "storage/msgpack/cursor.hpp"
#include "storage/msgpack/skip.hpp"

namespace tarnwick::format::pull {

using msgpack::Cursor;
using msgpack::Header;
using Kind = msgpack::Msg::Kind;

inline bool header(Cursor& c, Header& h) { return msgpack::read_header(c, h) == msgpack::HeaderStatus::Ok; }

using msgpack::reserve_bound;

inline constexpr int kOtherKey = -1;
inline constexpr int kBadInput = -2;

// Reads a map key: its index in `keys` when it is a text equal to one of them, kOtherKey for
// any other key (of any kind, passed over), kBadInput when the input does not decode. Keys are
// compared as raw bytes: the keys are ASCII, and text repaired from invalid UTF-8 never is.
template <std::size_t N>
int read_key(Cursor& c, const std::string_view (&keys)[N]) {
  Header h;
  if (!header(c, h)) return kBadInput;
  if (h.kind != Kind::Str) return msgpack::skip_body(c, h) ? kOtherKey : kBadInput;
  const std::uint8_t* p = c.take_raw(h.length);
  if (!p) return kBadInput;
  const std::string_view text(reinterpret_cast<const char*>(p), h.length);
  for (std::size_t i = 0; i < N; ++i)
    if (keys[i] == text) return static_cast<int>(i);
  return kOtherKey;
}

// Walks the pairs of a map whose header was read. `on_first(i, c)` reads the value of the
// first pair with key i, returning false to fail; every other value is skipped.
template <std::size_t N, class F>
bool for_each_first(Cursor& c, const Header& map, const std::string_view (&keys)[N], F&& on_first) {
  static_assert(N <= 32);
  std::uint32_t seen = 0;
  ++c.depth;
  for (std::uint64_t i = 0; i < map.length; ++i) {
    const int k = read_key(c, keys);
    if (k == kBadInput) return false;
    if (k >= 0 && !(seen & (1u << k))) {
      seen |= 1u << k;
      if (!on_first(k, c)) return false;
    } else if (!msgpack::skip_value(c)) {
      return false;
    }
  }
  --c.depth;
  return true;
}

}  // namespace tarnwick::format::pull
