#include "storage/msgpack/decode.hpp"

#include <algorithm>

#include "storage/msgpack/format.hpp"
#include "storage/msgpack/utf8.hpp"

namespace tarnwick::msgpack {

Result<Msg> decode_value(Cursor& c) {
  Header h;
  if (HeaderStatus s = read_header(c, h); s != HeaderStatus::Ok) return fail(header_error(s, c));
  switch (h.kind) {
    case Msg::Kind::Nil:
      return Msg();
    case Msg::Kind::Bool:
      return Msg::boolean(h.boolean);
    case Msg::Kind::Int:
      return h.integer.is_unsigned ? Msg::unsigned_integer(h.integer.bits)
                                   : Msg::integer(static_cast<std::int64_t>(h.integer.bits));
    case Msg::Kind::Float:
      return Msg::float64(h.number);
    case Msg::Kind::Bin: {
      TARNWICK_TRY_ASSIGN(auto bytes, c.take(h.length));
      return Msg::bin(Bytes(bytes.begin(), bytes.end()));
    }
    case Msg::Kind::Str: {
      TARNWICK_TRY_ASSIGN(auto bytes, c.take(h.length));
      return Msg::str(lossy_text(bytes));
    }
    case Msg::Kind::Array: {
      ++c.depth;
      auto items = decode_array(c, h.length);
      --c.depth;
      if (!items) return fail(items.error());
      return Msg::array(std::move(*items));
    }
    case Msg::Kind::Map: {
      ++c.depth;
      auto pairs = decode_map(c, h.length);
      --c.depth;
      if (!pairs) return fail(pairs.error());
      return Msg::map_of(std::move(*pairs));
    }
  }
  return fail(truncated());  // unreachable: every kind is handled above
}

Result<Msg::Array> decode_array(Cursor& c, std::uint64_t n) {
  Msg::Array items;
  items.reserve(reserve_bound(n, c));
  for (std::uint64_t i = 0; i < n; ++i) {
    TARNWICK_TRY_ASSIGN(auto item, decode_value(c));
    items.push_back(std::move(item));
  }
  return items;
}

Result<Msg::Map> decode_map(Cursor& c, std::uint64_t n) {
  Msg::Map pairs;
  pairs.reserve(reserve_bound(n, c));
  for (std::uint64_t i = 0; i < n; ++i) {
    TARNWICK_TRY_ASSIGN(auto key, decode_value(c));
    TARNWICK_TRY_ASSIGN(auto value, decode_value(c));
    pairs.emplace_back(std::move(key), std::move(value));
  }
  return pairs;
}

}  // namespace tarnwick::msgpack
