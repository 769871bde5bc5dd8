#include "model/reader.hpp"

#include <limits>

namespace tarnwick {

std::string ReadError::text() const {
  if (line == 0) return message;
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

std::unexpected<ReadError> invalid_type(const json::Value& found, std::string_view expected) {
  return read_fail("invalid type: " + json::describe(found) + ", expected " + std::string(expected));
}

std::unexpected<ReadError> invalid_value(std::string_view found, std::string_view expected) {
  return read_fail("invalid value: " + std::string(found) + ", expected " + std::string(expected));
}

std::unexpected<ReadError> invalid_length(std::size_t length, std::string_view expected) {
  return read_fail("invalid length " + std::to_string(length) + ", expected " + std::string(expected));
}

std::unexpected<ReadError> missing_field(std::string_view key) {
  return read_fail("missing field `" + std::string(key) + "`");
}

std::unexpected<ReadError> duplicate_field(std::string_view key) {
  return read_fail("duplicate field `" + std::string(key) + "`");
}

std::unexpected<ReadError> unknown_variant(std::string_view found, std::string_view expected) {
  return read_fail("unknown variant `" + std::string(found) + "`, expected " + std::string(expected));
}

ReadResult<std::string> read_string(json::Value& v) {
  if (const json::String* s = v.if_string()) return std::string(s->data(), s->size());
  return invalid_type(v, "a string");
}

ReadResult<double> read_f64(json::Value& v) {
  switch (v.kind()) {
    case json::Kind::double_: return v.get_double();
    case json::Kind::int64: return static_cast<double>(v.get_int64());
    case json::Kind::uint64: return static_cast<double>(v.get_uint64());
    default: return invalid_type(v, "f64");
  }
}

ReadResult<std::int64_t> read_i64(json::Value& v) {
  if (v.is_int64()) return v.get_int64();
  if (v.is_uint64()) {
    if (v.get_uint64() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return static_cast<std::int64_t>(v.get_uint64());
    return invalid_value(json::describe(v), "i64");
  }
  return invalid_type(v, "i64");
}

ReadResult<std::uint64_t> read_u64(json::Value& v) {
  if (v.is_uint64()) return v.get_uint64();
  if (v.is_int64()) {
    if (v.get_int64() >= 0) return static_cast<std::uint64_t>(v.get_int64());
    return invalid_value(json::describe(v), "u64");
  }
  return invalid_type(v, "u64");
}

ReadResult<std::uint64_t> read_usize(json::Value& v) {
  if (v.is_int64() && v.get_int64() < 0) return invalid_value(json::describe(v), "usize");
  if (v.is_int64() || v.is_uint64()) return read_u64(v);
  return invalid_type(v, "usize");
}

ReadResult<std::size_t> read_unit_variant(json::Value& v, std::span<const std::string_view> names,
                                          std::string_view expected) {
  auto by_name = [&](std::string_view name) -> ReadResult<std::size_t> {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return i;
    return unknown_variant(name, expected);
  };
  if (const json::String* s = v.if_string()) return by_name(*s);
  if (json::Object* o = v.if_object()) {
    if (o->size() != 1) return invalid_value("map", "map with a single key");
    auto& only = *o->begin();
    auto index = by_name(only.key());
    if (index && !only.value().is_null()) return invalid_type(only.value(), "unit");
    return index;
  }
  return invalid_type(v, "string or map");
}

ReadResult<bool> read_bool(json::Value& v) {
  if (v.is_bool()) return v.get_bool();
  return invalid_type(v, "a boolean");
}

ReadResult<json::Object> read_object(json::Value& v) {
  if (json::Object* o = v.if_object()) return std::move(*o);
  return invalid_type(v, "a map");
}

ReadResult<std::vector<double>> read_f64_list(json::Value& v) { return read_list(v, read_f64); }

ReadResult<std::vector<std::string>> read_string_list(json::Value& v) { return read_list(v, read_string); }

}  // namespace tarnwick
