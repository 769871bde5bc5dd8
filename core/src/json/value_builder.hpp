#pragma once
// A sink of JSON events that builds the value they describe: the same events as
// json::TextWriter, so that one description of a record gives both its text and its value.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "json/json.hpp"

namespace tarnwick::json {

class ValueBuilder {
 public:
  void begin_object() { open(Object()); }
  void end_object() { open_.pop_back(); }
  void begin_array() { open(Array()); }
  void end_array() { open_.pop_back(); }
  void key(std::string_view k) { key_ = k; }
  void null() { put(nullptr); }
  void string(std::string_view s) { put(String(s)); }
  void int64(std::int64_t i) { put(i); }
  void uint64(std::uint64_t u) { put(u); }
  void number(double d) { put(json::number(d)); }
  void object(const Object& o) { put(o); }
  void doubles(std::span<const double> values);

  // The finished value; the builder is left empty.
  Value take() { return std::move(root_); }

 private:
  // Adds `v` to the innermost open array, or under the last key to the innermost open object.
  Value& put(Value v);
  void open(Value container) { open_.push_back(&put(std::move(container))); }

  Value root_;
  // The containers being filled, outermost first. Only the innermost one grows, so the
  // addresses of the others stay put.
  std::vector<Value*> open_;
  std::string_view key_;  // borrowed until the value under it is put
};

}  // namespace tarnwick::json
