#include "storage/msgpack/writer.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>

namespace tarnwick::msgpack {

namespace detail {

void refuse_length(std::uint64_t n, Writer& out) {
  out.fail(err::InvalidArgument{"msgpack length " + std::to_string(n) + " exceeds 4294967295"});
}

}  // namespace detail

Writer::~Writer() { std::free(buf_); }

// realloc moves a large block by remapping its pages, so doubling copies nothing there. No
// huge-page hint: it halved the page faults of later snapshots but made a process's first one
// (often its only one, at close) three times slower while the kernel gathered whole pages.
void Writer::grow(std::size_t n) {
  const std::size_t want = std::max<std::size_t>({capacity_ * 2, len_ + n, 64});
  auto* block = static_cast<std::uint8_t*>(std::realloc(buf_, want));
  if (block == nullptr) throw std::bad_alloc();  // out of memory, as the standard containers report it
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

std::uint8_t* put_number(double d, std::uint8_t* p) {
  // NaN fails the comparison and infinities the magnitude test, so both stay doubles.
  constexpr double kTwoPow53 = 9007199254740992.0;
  if (std::fabs(d) < kTwoPow53 && d - std::trunc(d) == 0.0) return put_int(static_cast<std::int64_t>(d), p);
  return detail::put_marked_at(marker::kFloat64, std::bit_cast<std::uint64_t>(d), p);
}

void encode_number(double d, Writer& out) {
  std::uint8_t* p = out.extend(kMaxNumberSize);
  out.give_back(kMaxNumberSize - static_cast<std::size_t>(put_number(d, p) - p));
}

void encode_float64(double d, Writer& out) {
  detail::put_marked(marker::kFloat64, std::bit_cast<std::uint64_t>(d), out);
}

bool check_depth(std::size_t depth, Writer& out) {
  if (depth <= kMaxDepth) return true;
  out.fail(err::InvalidArgument{"msgpack nesting exceeds " + std::to_string(kMaxDepth) + " levels"});
  return false;
}

}  // namespace tarnwick::msgpack
