#include "storage/store/data_field.hpp"

#include "storage/format/pull.hpp"
#include "storage/format/record_reader.hpp"

namespace tarnwick::store {

namespace {

using format::pull::header;
using msgpack::Cursor;
using msgpack::Header;
using Kind = msgpack::Msg::Kind;

// The text of a string whose header `h` was read at `c`, with `c` moved past it; none for any
// other value, `c` then left where it was.
std::optional<std::string_view> text_at(Cursor& c, const Header& h) {
  if (h.kind != Kind::Str) return std::nullopt;
  const std::uint8_t* p = c.take_raw(h.length);
  if (!p) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(h.length));
}

// Moves `c` from the header of the value it is on to the value of that map's pair keyed `key`;
// false when the value is not a map or has no such pair.
bool enter_key(Cursor& c, std::string_view key) {
  Header map;
  if (!header(c, map) || map.kind != Kind::Map) return false;
  for (std::uint64_t i = 0; i < map.length; ++i) {
    Header k;
    if (!header(c, k)) return false;
    if (const auto text = text_at(c, k)) {
      if (*text == key) return true;
    } else if (!msgpack::skip_body(c, k)) {
      return false;
    }
    if (!msgpack::skip_value(c)) return false;
  }
  return false;
}

bool is_scalar(Kind kind) { return kind == Kind::Nil || kind == Kind::Bool || kind == Kind::Int || kind == Kind::Float; }

}  // namespace

DataField DataField::at_path(std::span<const std::uint8_t> data, std::string_view path) {
  Cursor c{data};
  for (;;) {
    const std::size_t dot = path.find('.');
    if (!enter_key(c, path.substr(0, dot))) return {};
    if (dot == std::string_view::npos) return DataField(c);
    path.remove_prefix(dot + 1);
  }
}

DataField DataField::at_key(std::span<const std::uint8_t> data, std::string_view key) {
  Cursor c{data};
  return enter_key(c, key) ? DataField(c) : DataField();
}

json::Value DataField::decoded() const {
  Cursor c = at_;
  json::Value v;
  format::read_json(c, v);
  return v;
}

bool DataField::equals(const json::Value& expected) const {
  if (!found_) return false;
  Cursor c = at_;
  Header h;
  if (!header(c, h)) return false;
  if (is_scalar(h.kind)) return json::equal(format::json_scalar(h), expected);
  if (const json::String* s = expected.if_string()) return text_at(c, h) == std::string_view(*s);
  // Only an array or a map can equal a structured value, and only one can equal the other.
  return expected.is_structured() && h.kind != Kind::Str && json::equal(decoded(), expected);
}

std::optional<json::Value> DataField::scalar() const {
  if (!found_) return std::nullopt;
  Cursor c = at_;
  Header h;
  if (!header(c, h) || !is_scalar(h.kind)) return std::nullopt;
  return format::json_scalar(h);
}

bool DataField::print(std::string& out) const {
  Cursor c = at_;
  Header h;
  if (!found_ || !header(c, h) || h.kind == Kind::Nil) {
    out += "null";
    return true;
  }
  if (is_scalar(h.kind)) {
    json::print(out, format::json_scalar(h));
  } else if (const auto text = text_at(c, h)) {
    json::print_string(out, *text);
  } else {
    json::print(out, decoded());
  }
  return false;
}

}  // namespace tarnwick::store
