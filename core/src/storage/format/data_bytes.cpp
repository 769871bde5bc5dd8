#include "storage/format/data_bytes.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "storage/format/pull.hpp"
#include "storage/msgpack/format.hpp"
#include "storage/msgpack/utf8.hpp"
#include "storage/msgpack/writer.hpp"

namespace tarnwick::format {

namespace {

using pull::header;
using pull::Header;
using pull::Kind;

// Maps with more keys are declined rather than checked for repeats without allocating.
constexpr std::uint64_t kMaxComparedKeys = 32;

// The size of the header the writer gives a length: a fix form below `fix_limit`, then the
// 8-bit form where the kind has one, the 16-bit and the 32-bit forms. Each size has one form per
// kind, so a header of the right kind, length and size is the writer's header.
std::size_t written_header_size(std::uint64_t length, std::uint64_t fix_limit, bool has_8_bit_form) {
  if (length < fix_limit) return 1;
  if (has_8_bit_form && length < 0x100) return 2;
  return length < 0x10000 ? 3 : 5;
}

class Check {
 public:
  explicit Check(msgpack::Cursor& c) : c_(c) {}

  std::size_t deepest() const { return deepest_; }

  // A value whose container, if it is one, sits at `level` within the data.
  bool value(std::size_t level) {
    const std::size_t start = c_.pos;
    Header h;
    if (!header(c_, h)) return false;
    const std::size_t size = c_.pos - start;
    switch (h.kind) {
      case Kind::Nil:
      case Kind::Bool: return true;
      case Kind::Int: return written_integer(h, start, size);
      case Kind::Float: return c_.data[start] == msgpack::marker::kFloat64 && std::isfinite(h.number);
      case Kind::Str: return text(h, size, nullptr);
      case Kind::Array: {
        if (size != written_header_size(h.length, 16, false)) return false;
        deepest_ = std::max(deepest_, level);
        ++c_.depth;
        for (std::uint64_t i = 0; i < h.length; ++i)
          if (!value(level + 1)) return false;
        --c_.depth;
        return true;
      }
      case Kind::Map: return map(h, size, level);
      case Kind::Bin: return false;
    }
    return false;
  }

 private:
  bool written_integer(const Header& h, std::size_t start, std::size_t size) const {
    std::uint8_t expected[msgpack::kMaxNumberSize];
    const auto u = h.integer.to_u64();
    const std::uint8_t* end =
        u ? msgpack::put_uint(*u, expected) : msgpack::put_int(static_cast<std::int64_t>(h.integer.bits), expected);
    return static_cast<std::size_t>(end - expected) == size && std::memcmp(expected, &c_.data[start], size) == 0;
  }

  bool text(const Header& h, std::size_t size, std::string_view* out) {
    if (size != written_header_size(h.length, 32, true)) return false;
    const std::uint8_t* p = c_.take_raw(h.length);
    if (!p || !msgpack::valid_utf8({p, static_cast<std::size_t>(h.length)})) return false;
    if (out) *out = {reinterpret_cast<const char*>(p), static_cast<std::size_t>(h.length)};
    return true;
  }

  bool map(const Header& h, std::size_t size, std::size_t level) {
    if (size != written_header_size(h.length, 16, false) || h.length > kMaxComparedKeys) return false;
    deepest_ = std::max(deepest_, level);
    std::string_view keys[kMaxComparedKeys];
    ++c_.depth;
    for (std::uint64_t i = 0; i < h.length; ++i) {
      const std::size_t start = c_.pos;
      Header k;
      if (!header(c_, k) || k.kind != Kind::Str || !text(k, c_.pos - start, &keys[i])) return false;
      if (std::find(keys, keys + i, keys[i]) != keys + i) return false;
      if (!value(level + 1)) return false;
    }
    --c_.depth;
    return true;
  }

  msgpack::Cursor& c_;
  std::size_t deepest_ = 0;
};

}  // namespace

std::optional<DataBytes> take_data_bytes(msgpack::Cursor& c) {
  const msgpack::Cursor start = c;
  msgpack::Cursor peek = c;
  Header h;
  if (!header(peek, h) || h.kind != Kind::Map) return std::nullopt;
  Check check(c);
  if (!check.value(1)) {
    c = start;
    return std::nullopt;
  }
  return DataBytes{c.data.subspan(start.pos, c.pos - start.pos), check.deepest()};
}

}  // namespace tarnwick::format
