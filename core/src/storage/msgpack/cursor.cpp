#include "storage/msgpack/cursor.hpp"

#include <algorithm>
#include <bit>
#include <string>

#include "storage/msgpack/format.hpp"

namespace tarnwick::msgpack {

namespace {

template <class T>
bool take_be(Cursor& c, T& out) {
  const std::uint8_t* p = c.take_raw(sizeof(T));
  if (!p) return false;
  std::make_unsigned_t<T> u = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) u = static_cast<decltype(u)>((u << 8) | p[i]);
  out = static_cast<T>(u);
  return true;
}

template <class T>
HeaderStatus sized(Cursor& c, Header& h, Msg::Kind kind) {
  T n;
  if (!take_be(c, n)) return HeaderStatus::Truncated;
  h.kind = kind;
  h.length = n;
  return HeaderStatus::Ok;
}

template <class T>
HeaderStatus unsigned_int(Cursor& c, Header& h) {
  T v;
  if (!take_be(c, v)) return HeaderStatus::Truncated;
  h.kind = Msg::Kind::Int;
  h.integer = {v, v > static_cast<std::uint64_t>(INT64_MAX)};
  return HeaderStatus::Ok;
}

template <class T>
HeaderStatus signed_int(Cursor& c, Header& h) {
  T v;
  if (!take_be(c, v)) return HeaderStatus::Truncated;
  h.kind = Msg::Kind::Int;
  h.integer = {static_cast<std::uint64_t>(static_cast<std::int64_t>(v)), false};
  return HeaderStatus::Ok;
}

HeaderStatus read_marked(std::uint8_t m, Cursor& c, Header& h) {
  using K = Msg::Kind;
  switch (m) {
    case marker::kNil: h.kind = K::Nil; return HeaderStatus::Ok;
    case marker::kFalse: h.kind = K::Bool; h.boolean = false; return HeaderStatus::Ok;
    case marker::kTrue: h.kind = K::Bool; h.boolean = true; return HeaderStatus::Ok;
    case marker::kBin8: return sized<std::uint8_t>(c, h, K::Bin);
    case marker::kBin16: return sized<std::uint16_t>(c, h, K::Bin);
    case marker::kBin32: return sized<std::uint32_t>(c, h, K::Bin);
    case marker::kFloat32: {
      std::uint32_t bits;
      if (!take_be(c, bits)) return HeaderStatus::Truncated;
      h.kind = K::Float;
      h.number = std::bit_cast<float>(bits);
      return HeaderStatus::Ok;
    }
    case marker::kFloat64: {
      std::uint64_t bits;
      if (!take_be(c, bits)) return HeaderStatus::Truncated;
      h.kind = K::Float;
      h.number = std::bit_cast<double>(bits);
      return HeaderStatus::Ok;
    }
    case marker::kUint8: return unsigned_int<std::uint8_t>(c, h);
    case marker::kUint16: return unsigned_int<std::uint16_t>(c, h);
    case marker::kUint32: return unsigned_int<std::uint32_t>(c, h);
    case marker::kUint64: return unsigned_int<std::uint64_t>(c, h);
    case marker::kInt8: return signed_int<std::int8_t>(c, h);
    case marker::kInt16: return signed_int<std::int16_t>(c, h);
    case marker::kInt32: return signed_int<std::int32_t>(c, h);
    case marker::kInt64: return signed_int<std::int64_t>(c, h);
    case marker::kStr8: return sized<std::uint8_t>(c, h, K::Str);
    case marker::kStr16: return sized<std::uint16_t>(c, h, K::Str);
    case marker::kStr32: return sized<std::uint32_t>(c, h, K::Str);
    case marker::kArray16: return sized<std::uint16_t>(c, h, K::Array);
    case marker::kArray32: return sized<std::uint32_t>(c, h, K::Array);
    case marker::kMap16: return sized<std::uint16_t>(c, h, K::Map);
    case marker::kMap32: return sized<std::uint32_t>(c, h, K::Map);
    default: return HeaderStatus::UnexpectedMarker;  // 0xc1 and the extension types
  }
}

}  // namespace

Result<std::span<const std::uint8_t>> Cursor::take(std::uint64_t n) {
  std::size_t at = pos;
  if (!take_raw(n)) return fail(truncated());
  return data.subspan(at, static_cast<std::size_t>(n));
}

std::size_t reserve_bound(std::uint64_t n, const Cursor& c) {
  return static_cast<std::size_t>(std::min<std::uint64_t>({n, c.remaining(), kMaxReserve}));
}

HeaderStatus read_header(Cursor& c, Header& h) {
  const std::size_t start = c.pos;
  const std::uint8_t* p = c.take_raw(1);
  if (!p) return HeaderStatus::Truncated;
  const std::uint8_t m = *p;
  HeaderStatus status;
  if (m <= marker::kPositiveFixintMax) {
    h.kind = Msg::Kind::Int;
    h.integer = {m, false};
    status = HeaderStatus::Ok;
  } else if (m >= marker::kNegativeFixintMin) {
    h.kind = Msg::Kind::Int;
    h.integer = {static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int8_t>(m))), false};
    status = HeaderStatus::Ok;
  } else if (m < marker::kFixarray) {
    h.kind = Msg::Kind::Map;
    h.length = m & 0x0f;
    status = HeaderStatus::Ok;
  } else if (m < marker::kFixstr) {
    h.kind = Msg::Kind::Array;
    h.length = m & 0x0f;
    status = HeaderStatus::Ok;
  } else if (m < marker::kNil) {
    h.kind = Msg::Kind::Str;
    h.length = m & 0x1f;
    status = HeaderStatus::Ok;
  } else {
    status = read_marked(m, c, h);
  }
  if (status == HeaderStatus::Ok && (h.kind == Msg::Kind::Array || h.kind == Msg::Kind::Map) &&
      c.depth >= kMaxDepth)
    status = HeaderStatus::TooDeep;
  if (status != HeaderStatus::Ok) c.pos = start;
  return status;
}

TarnwickError truncated() { return err::CorruptData{"truncated msgpack"}; }

TarnwickError header_error(HeaderStatus status, const Cursor& c) {
  switch (status) {
    case HeaderStatus::UnexpectedMarker: {
      static constexpr char kHex[] = "0123456789abcdef";
      const std::uint8_t m = c.data[c.pos];
      return err::CorruptData{std::string("unexpected msgpack marker 0x") + kHex[m >> 4] + kHex[m & 0x0f]};
    }
    case HeaderStatus::TooDeep:
      return err::CorruptData{"msgpack nesting exceeds " + std::to_string(kMaxDepth) + " levels"};
    case HeaderStatus::Truncated:
    case HeaderStatus::Ok:
      break;
  }
  return truncated();
}

}  // namespace tarnwick::msgpack
