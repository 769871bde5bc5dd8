#include "storage/msgpack/utf8.hpp"

#include <cstring>

namespace tarnwick::msgpack {

namespace {

constexpr char kReplacement[] = "\xef\xbf\xbd";

// Length of the valid sequence starting at s[i] (1 to 4), or 0 for an invalid one, in which
// case `bad` is the length of its maximal valid prefix (at least 1).
std::size_t valid_sequence(const std::uint8_t* s, std::size_t n, std::size_t i, std::size_t& bad) {
  const std::uint8_t b = s[i];
  bad = 1;
  if (b < 0x80) return 1;
  std::size_t len;
  std::uint8_t lo = 0x80, hi = 0xbf;  // range of the second byte
  if (b >= 0xc2 && b <= 0xdf) {
    len = 2;
  } else if (b >= 0xe0 && b <= 0xef) {
    len = 3;
    if (b == 0xe0) lo = 0xa0;
    if (b == 0xed) hi = 0x9f;  // no surrogates
  } else if (b >= 0xf0 && b <= 0xf4) {
    len = 4;
    if (b == 0xf0) lo = 0x90;
    if (b == 0xf4) hi = 0x8f;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    if (i + k >= n) return 0;
    const std::uint8_t c = s[i + k];
    if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xbf)) return 0;
    bad = k + 1;
  }
  return len;
}

bool all_ascii(const std::uint8_t* s, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s + i, 8);
    if (w & 0x8080808080808080ULL) return false;
  }
  for (; i < n; ++i)
    if (s[i] & 0x80) return false;
  return true;
}

}  // namespace

std::string lossy_text(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* s = bytes.data();
  const std::size_t n = bytes.size();
  if (all_ascii(s, n)) return std::string(reinterpret_cast<const char*>(s), n);
  std::string out;
  out.reserve(n);
  std::size_t i = 0;
  while (i < n) {
    std::size_t bad;
    if (std::size_t len = valid_sequence(s, n, i, bad)) {
      out.append(reinterpret_cast<const char*>(s + i), len);
      i += len;
    } else {
      out += kReplacement;
      i += bad;
    }
  }
  return out;
}

bool valid_utf8(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* s = bytes.data();
  const std::size_t n = bytes.size();
  if (all_ascii(s, n)) return true;
  std::size_t bad;
  for (std::size_t i = 0; i < n;) {
    const std::size_t len = valid_sequence(s, n, i, bad);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

}  // namespace tarnwick::msgpack
