#include "storage/msgpack/skip.hpp"

#include <array>

#include "storage/msgpack/format.hpp"

namespace tarnwick::msgpack {

namespace {

// Whole size of a value that is a fixed-size scalar, by marker; 0 for every other marker.
constexpr std::array<std::uint8_t, 256> kScalarSize = [] {
  std::array<std::uint8_t, 256> size{};
  for (int m = 0; m <= marker::kPositiveFixintMax; ++m) size[m] = 1;
  for (int m = marker::kNegativeFixintMin; m <= 0xff; ++m) size[m] = 1;
  size[marker::kNil] = size[marker::kFalse] = size[marker::kTrue] = 1;
  size[marker::kUint8] = size[marker::kInt8] = 2;
  size[marker::kUint16] = size[marker::kInt16] = 3;
  size[marker::kUint32] = size[marker::kInt32] = size[marker::kFloat32] = 5;
  size[marker::kUint64] = size[marker::kInt64] = size[marker::kFloat64] = 9;
  return size;
}();

}  // namespace

HeaderStatus skip_value_status(Cursor& c) {
  if (c.pos < c.data.size()) {
    // Numbers dominate the files (vectors): pass them without decoding a header.
    if (const std::size_t n = kScalarSize[c.data[c.pos]])
      return c.take_raw(n) ? HeaderStatus::Ok : HeaderStatus::Truncated;
  }
  Header h;
  const HeaderStatus s = read_header(c, h);
  return s == HeaderStatus::Ok ? skip_body_status(c, h) : s;
}

HeaderStatus skip_body_status(Cursor& c, const Header& h) {
  switch (h.kind) {
    case Msg::Kind::Bin:
    case Msg::Kind::Str:
      return c.take_raw(h.length) ? HeaderStatus::Ok : HeaderStatus::Truncated;
    case Msg::Kind::Array:
    case Msg::Kind::Map: {
      const std::uint64_t values = h.kind == Msg::Kind::Map ? 2 * h.length : h.length;
      ++c.depth;
      for (std::uint64_t i = 0; i < values; ++i)
        if (const HeaderStatus s = skip_value_status(c); s != HeaderStatus::Ok) return s;
      --c.depth;
      return HeaderStatus::Ok;
    }
    default:
      return HeaderStatus::Ok;
  }
}

}  // namespace tarnwick::msgpack
