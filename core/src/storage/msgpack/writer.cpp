#include "storage/msgpack/writer.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>

#include "storage/msgpack/format.hpp"

namespace tarnwick::msgpack {

namespace {

template <class T>
void put_be(T v, std::uint8_t* p) {
  using U = std::make_unsigned_t<T>;
  auto u = static_cast<U>(v);
  for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<std::uint8_t>(u >> (8 * (sizeof(T) - 1 - i)));
}

template <class T>
std::uint8_t* put_marked_at(std::uint8_t m, T v, std::uint8_t* p) {
  p[0] = m;
  put_be(v, p + 1);
  return p + 1 + sizeof(T);
}

template <class T>
void put_marked(std::uint8_t m, T v, Writer& out) {
  put_marked_at(m, v, out.extend(1 + sizeof(T)));
}

bool check_length(std::uint64_t n, Writer& out) {
  if (n <= kMaxLength) return true;
  out.fail(err::InvalidArgument{"msgpack length " + std::to_string(n) + " exceeds 4294967295"});
  return false;
}

// The header of a sized value: a fix form when one exists and n fits it, else the 8-, 16- or
// 32-bit length form (a marker of 0 means the kind has no such form).
bool sized_header(std::uint64_t n, std::uint8_t fix, std::uint64_t fix_limit, std::uint8_t m8, std::uint8_t m16,
                  std::uint8_t m32, Writer& out) {
  if (!check_length(n, out)) return false;
  if (n < fix_limit) {
    out.put(static_cast<std::uint8_t>(fix + n));
  } else if (m8 && n < 0x100) {
    put_marked(m8, static_cast<std::uint8_t>(n), out);
  } else if (n < 0x10000) {
    put_marked(m16, static_cast<std::uint16_t>(n), out);
  } else {
    put_marked(m32, static_cast<std::uint32_t>(n), out);
  }
  return true;
}

}  // namespace

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugeThreshold = std::size_t{8} << 20;

// A large buffer is written once from end to end: in 4 KiB pages a snapshot takes a page fault
// every few records, which costs nearly as much as the writing. The hint covers the whole 2 MiB
// pages inside the block; failure changes nothing.
void prefer_huge_pages(std::uint8_t* block, std::size_t size) {
  if (size < kHugeThreshold) return;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
  const std::uintptr_t last = (start + size) / kHugePage * kHugePage;
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

Writer::Writer(std::size_t reserve) {
  if (reserve) grow(reserve);
}

Writer::~Writer() { std::free(buf_); }

// realloc moves a large block by remapping its pages, so doubling copies nothing there.
void Writer::grow(std::size_t n) {
  const std::size_t want = std::max<std::size_t>({capacity_ * 2, len_ + n, 64});
  auto* block = static_cast<std::uint8_t*>(std::realloc(buf_, want));
  if (block == nullptr) throw std::bad_alloc();  // out of memory, as the standard containers report it
  prefer_huge_pages(block, want);
  buf_ = block;
  capacity_ = want;
}

void Writer::fail(TarnwickError e) {
  if (!error_) error_ = std::move(e);
}

Result<std::span<const std::uint8_t>> Writer::written() const {
  if (error_) return tarnwick::fail(*error_);
  return std::span<const std::uint8_t>(buf_, len_);
}

Result<Bytes> Writer::finish() && {
  TARNWICK_TRY_ASSIGN(const auto bytes, written());
  return Bytes(bytes.begin(), bytes.end());
}

void encode_nil(Writer& out) { out.put(marker::kNil); }

void encode_bool(bool b, Writer& out) { out.put(b ? marker::kTrue : marker::kFalse); }

std::uint8_t* put_uint(std::uint64_t v, std::uint8_t* p) {
  if (v <= marker::kPositiveFixintMax) {
    *p = static_cast<std::uint8_t>(v);
    return p + 1;
  }
  if (v <= 0xff) return put_marked_at(marker::kUint8, static_cast<std::uint8_t>(v), p);
  if (v <= 0xffff) return put_marked_at(marker::kUint16, static_cast<std::uint16_t>(v), p);
  if (v <= 0xffffffff) return put_marked_at(marker::kUint32, static_cast<std::uint32_t>(v), p);
  return put_marked_at(marker::kUint64, v, p);
}

std::uint8_t* put_int(std::int64_t v, std::uint8_t* p) {
  if (v >= 0) return put_uint(static_cast<std::uint64_t>(v), p);
  if (v >= -32) {
    *p = static_cast<std::uint8_t>(v);
    return p + 1;
  }
  if (v >= -128) return put_marked_at(marker::kInt8, static_cast<std::int8_t>(v), p);
  if (v >= -32768) return put_marked_at(marker::kInt16, static_cast<std::int16_t>(v), p);
  if (v >= -2147483648LL) return put_marked_at(marker::kInt32, static_cast<std::int32_t>(v), p);
  return put_marked_at(marker::kInt64, v, p);
}

std::uint8_t* put_number(double d, std::uint8_t* p) {
  // NaN fails the comparison and infinities the magnitude test, so both stay doubles.
  constexpr double kTwoPow53 = 9007199254740992.0;
  if (std::fabs(d) < kTwoPow53 && d - std::trunc(d) == 0.0) return put_int(static_cast<std::int64_t>(d), p);
  return put_marked_at(marker::kFloat64, std::bit_cast<std::uint64_t>(d), p);
}

void encode_uint(std::uint64_t v, Writer& out) {
  std::uint8_t* p = out.extend(kMaxNumberSize);
  out.give_back(kMaxNumberSize - static_cast<std::size_t>(put_uint(v, p) - p));
}

void encode_int(std::int64_t v, Writer& out) {
  std::uint8_t* p = out.extend(kMaxNumberSize);
  out.give_back(kMaxNumberSize - static_cast<std::size_t>(put_int(v, p) - p));
}

void encode_number(double d, Writer& out) {
  std::uint8_t* p = out.extend(kMaxNumberSize);
  out.give_back(kMaxNumberSize - static_cast<std::size_t>(put_number(d, p) - p));
}

void encode_float64(double d, Writer& out) { put_marked(marker::kFloat64, std::bit_cast<std::uint64_t>(d), out); }

void encode_str(std::string_view s, Writer& out) {
  if (sized_header(s.size(), marker::kFixstr, 32, marker::kStr8, marker::kStr16, marker::kStr32, out))
    out.put(s.data(), s.size());
}

bool encode_bin_header(std::uint64_t n, Writer& out) {
  return sized_header(n, 0, 0, marker::kBin8, marker::kBin16, marker::kBin32, out);
}

void encode_bin(std::span<const std::uint8_t> b, Writer& out) {
  if (encode_bin_header(b.size(), out)) out.put(b.data(), b.size());
}

void encode_array_header(std::uint64_t n, Writer& out) {
  sized_header(n, marker::kFixarray, 16, 0, marker::kArray16, marker::kArray32, out);
}

void encode_map_header(std::uint64_t n, Writer& out) {
  sized_header(n, marker::kFixmap, 16, 0, marker::kMap16, marker::kMap32, out);
}

bool check_depth(std::size_t depth, Writer& out) {
  if (depth <= kMaxDepth) return true;
  out.fail(err::InvalidArgument{"msgpack nesting exceeds " + std::to_string(kMaxDepth) + " levels"});
  return false;
}

}  // namespace tarnwick::msgpack
