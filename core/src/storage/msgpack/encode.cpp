#include "storage/msgpack/encode.hpp"

namespace tarnwick::msgpack {

namespace {

void encode_at(const Msg& value, std::size_t depth, Writer& out) {
  switch (value.kind()) {
    case Msg::Kind::Nil:
      return encode_nil(out);
    case Msg::Kind::Bool:
      return encode_bool(value.as_bool(), out);
    case Msg::Kind::Int: {
      const Msg::Int& i = value.as_int();
      return i.is_unsigned ? encode_uint(i.bits, out) : encode_int(static_cast<std::int64_t>(i.bits), out);
    }
    case Msg::Kind::Float: {
      const Msg::Float& f = value.as_float();
      return f.keep_float ? encode_float64(f.value, out) : encode_number(f.value, out);
    }
    case Msg::Kind::Bin:
      return encode_bin(value.as_bin(), out);
    case Msg::Kind::Str:
      return encode_str(value.as_str(), out);
    case Msg::Kind::Array:
      if (!check_depth(depth + 1, out)) return;
      encode_array_header(value.as_array().size(), out);
      for (const Msg& m : value.as_array()) encode_at(m, depth + 1, out);
      return;
    case Msg::Kind::Map:
      if (!check_depth(depth + 1, out)) return;
      encode_map_header(value.as_map().size(), out);
      for (const auto& [k, v] : value.as_map()) {
        encode_at(k, depth + 1, out);
        encode_at(v, depth + 1, out);
      }
      return;
  }
}

}  // namespace

void encode(const Msg& value, Writer& out) { encode_at(value, 0, out); }

}  // namespace tarnwick::msgpack
