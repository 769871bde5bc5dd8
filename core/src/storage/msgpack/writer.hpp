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
#include <utility>

#include "error/error.hpp"
#include "storage/msgpack/bytes.hpp"

namespace tarnwick::msgpack {

class Writer {
 public:
  explicit Writer(std::size_t reserve = 0);
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

// Writers of a number's encoding at p, which has room for kMaxNumberSize bytes; each returns
// the end of what it wrote. The encode_ functions below use them, and so do loops over many
// numbers, which reserve room for all of them at once.
std::uint8_t* put_uint(std::uint64_t v, std::uint8_t* p);
std::uint8_t* put_int(std::int64_t v, std::uint8_t* p);
std::uint8_t* put_number(double d, std::uint8_t* p);

void encode_nil(Writer& out);
void encode_bool(bool b, Writer& out);
// Non-negative values always take an unsigned form.
void encode_int(std::int64_t v, Writer& out);
void encode_uint(std::uint64_t v, Writer& out);
// An integral value below 2^53 in magnitude as an integer, anything else as float64.
void encode_number(double d, Writer& out);
void encode_float64(double d, Writer& out);
void encode_str(std::string_view s, Writer& out);
void encode_bin(std::span<const std::uint8_t> b, Writer& out);
// False, with the error recorded, when n has no form; the caller then writes no payload.
bool encode_bin_header(std::uint64_t n, Writer& out);
void encode_array_header(std::uint64_t n, Writer& out);
void encode_map_header(std::uint64_t n, Writer& out);
// Records the nesting error when a container at `depth` (the top-level one is 1) is too deep.
bool check_depth(std::size_t depth, Writer& out);

}  // namespace tarnwick::msgpack
