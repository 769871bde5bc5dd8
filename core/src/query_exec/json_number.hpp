#pragma once
// How the engine reads a JSON number as a double: a double unchanged, an integer rounded to the
// nearest double (ties to even).

#include <cmath>
#include <optional>

#include "json/json.hpp"

namespace tarnwick::query {

inline std::optional<double> as_double(const json::Value& v) {
  switch (v.kind()) {
    case json::Kind::double_: return v.get_double();
    case json::Kind::int64: return static_cast<double>(v.get_int64());
    case json::Kind::uint64: return static_cast<double>(v.get_uint64());
    default: return std::nullopt;
  }
}

// The value as a finite double, or nothing.
inline std::optional<double> finite_number(const json::Value& v) {
  const std::optional<double> d = as_double(v);
  if (!d || !std::isfinite(*d)) return std::nullopt;
  return d;
}

}  // namespace tarnwick::query
