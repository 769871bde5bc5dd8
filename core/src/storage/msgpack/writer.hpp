#pragma once
// `Writer`: the growable output buffer of every encoder, and the primitives that append one
// MessagePack value or header to it, always in the smallest form.
//
// A length or count above 4294967295, or nesting deeper than kMaxDepth, has no form that
// decodes: the writer then records an error, writes nothing more that matters, and `finish`
// reports the error instead of handing out a corrupt buffer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "error/error.hpp"
#include "storage/msgpack/bytes.hpp"
#include "storage/msgpack/format.hpp"

namespace tarnwick::msgpack {

class Writer {
 public:
  explicit Writer(std::size_t reserve = 0) { this->reserve(reserve); }
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Room for n more bytes; the caller writes exactly n bytes at the returned pointer.
  std::uint8_t* extend(std::size_t n) {
    if (capacity_ - len_ < n) grow(n);
    std::uint8_t* p = buf_ + len_;
    len_ += n;
    return p;
  }
  // Makes room for n more bytes now, so that writing them grows nothing.
  void reserve(std::size_t n) {
    if (capacity_ - len_ < n) grow(n);
  }
  // The last n bytes of an `extend` were not written after all.
  void give_back(std::size_t n) { len_ -= n; }
  void put(std::uint8_t b) { *extend(1) = b; }
  void put(const void* data, std::size_t n) {
    if (n) std::memcpy(extend(n), data, n);
  }

  std::size_t size() const { return len_; }
  // A byte already written, for filling in a length once what it counts is written.
  std::uint8_t* written_at(std::size_t offset) { return buf_ + offset; }
  bool ok() const { return !error_; }
  // Records the first error; later ones are dropped.
  void fail(TarnwickError e);
  // The bytes written, borrowed from the writer until it next writes or ends, or the first
  // recorded error: a whole file handed on as it is, without a copy.
  Result<std::span<const std::uint8_t>> written() const;
  // The same as a buffer of its own (a copy).
  Result<Bytes> finish() &&;

 private:
  void grow(std::size_t n);

  // Uninitialized beyond len_: a snapshot's buffer is hundreds of megabytes, and filling it
  // with zeros first would cost as much again as writing it.
  std::uint8_t* buf_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t len_ = 0;
  std::optional<TarnwickError> error_;
};

// The longest encoding of a number: a marker and 8 bytes.
inline constexpr std::size_t kMaxNumberSize = 9;

// The primitives are inline: a record writer calls them a dozen times per record, mostly with
// constant keys, whose headers and lengths then fold away.
namespace detail {

template <class T>
std::uint8_t* put_marked_at(std::uint8_t m, T v, std::uint8_t* p) {
  using U = std::make_unsigned_t<T>;
  const auto u = static_cast<U>(v);
  p[0] = m;
  for (std::size_t i = 0; i < sizeof(T); ++i) p[1 + i] = static_cast<std::uint8_t>(u >> (8 * (sizeof(T) - 1 - i)));
  return p + 1 + sizeof(T);
}

template <class T>
void put_marked(std::uint8_t m, T v, Writer& out) {
  put_marked_at(m, v, out.extend(1 + sizeof(T)));
}

// Records the error of a length or count above kMaxLength, which has no form.
void refuse_length(std::uint64_t n, Writer& out);

// The header of a sized value: a fix form when one exists and n fits it, else the 8-, 16- or
// 32-bit length form (a marker of 0 means the kind has no such form).
inline bool sized_header(std::uint64_t n, std::uint8_t fix, std::uint64_t fix_limit, std::uint8_t m8, std::uint8_t m16,
                         std::uint8_t m32, Writer& out) {
  if (n > kMaxLength) [[unlikely]] {
    refuse_length(n, out);
    return false;
  }
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

}  // namespace detail

// Writers of a number's encoding at p, which has room for kMaxNumberSize bytes; each returns
// the end of what it wrote. The encode_ functions below use them, and so do loops over many
// numbers, which reserve room for all of them at once.
inline std::uint8_t* put_uint(std::uint64_t v, std::uint8_t* p) {
  if (v <= marker::kPositiveFixintMax) {
    *p = static_cast<std::uint8_t>(v);
    return p + 1;
  }
  if (v <= 0xff) return detail::put_marked_at(marker::kUint8, static_cast<std::uint8_t>(v), p);
  if (v <= 0xffff) return detail::put_marked_at(marker::kUint16, static_cast<std::uint16_t>(v), p);
  if (v <= 0xffffffff) return detail::put_marked_at(marker::kUint32, static_cast<std::uint32_t>(v), p);
  return detail::put_marked_at(marker::kUint64, v, p);
}

inline std::uint8_t* put_int(std::int64_t v, std::uint8_t* p) {
  if (v >= 0) return put_uint(static_cast<std::uint64_t>(v), p);
  if (v >= -32) {
    *p = static_cast<std::uint8_t>(v);
    return p + 1;
  }
  if (v >= -128) return detail::put_marked_at(marker::kInt8, static_cast<std::int8_t>(v), p);
  if (v >= -32768) return detail::put_marked_at(marker::kInt16, static_cast<std::int16_t>(v), p);
  if (v >= -2147483648LL) return detail::put_marked_at(marker::kInt32, static_cast<std::int32_t>(v), p);
  return detail::put_marked_at(marker::kInt64, v, p);
}

std::uint8_t* put_number(double d, std::uint8_t* p);

inline void encode_nil(Writer& out) { out.put(marker::kNil); }
inline void encode_bool(bool b, Writer& out) { out.put(b ? marker::kTrue : marker::kFalse); }
// Non-negative values always take an unsigned form.
inline void encode_int(std::int64_t v, Writer& out) {
  std::uint8_t* p = out.extend(kMaxNumberSize);
  out.give_back(kMaxNumberSize - static_cast<std::size_t>(put_int(v, p) - p));
}
inline void encode_uint(std::uint64_t v, Writer& out) {
  std::uint8_t* p = out.extend(kMaxNumberSize);
  out.give_back(kMaxNumberSize - static_cast<std::size_t>(put_uint(v, p) - p));
}
// An integral value below 2^53 in magnitude as an integer, anything else as float64.
void encode_number(double d, Writer& out);
void encode_float64(double d, Writer& out);
inline void encode_str(std::string_view s, Writer& out) {
  if (detail::sized_header(s.size(), marker::kFixstr, 32, marker::kStr8, marker::kStr16, marker::kStr32, out))
    out.put(s.data(), s.size());
}
// False, with the error recorded, when n has no form; the caller then writes no payload.
inline bool encode_bin_header(std::uint64_t n, Writer& out) {
  return detail::sized_header(n, 0, 0, marker::kBin8, marker::kBin16, marker::kBin32, out);
}
inline void encode_bin(std::span<const std::uint8_t> b, Writer& out) {
  if (encode_bin_header(b.size(), out)) out.put(b.data(), b.size());
}
inline void encode_array_header(std::uint64_t n, Writer& out) {
  detail::sized_header(n, marker::kFixarray, 16, 0, marker::kArray16, marker::kArray32, out);
}
inline void encode_map_header(std::uint64_t n, Writer& out) {
  detail::sized_header(n, marker::kFixmap, 16, 0, marker::kMap16, marker::kMap32, out);
}
// Records the nesting error when a container at `depth` (the top-level one is 1) is too deep.
bool check_depth(std::size_t depth, Writer& out);

}  // namespace tarnwick::msgpack
