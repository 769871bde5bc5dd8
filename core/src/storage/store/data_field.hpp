#pragma once
// One field of a stored node's data, read from the data's bytes without decoding the object:
// the walk passes every value it does not enter by its length or counts, and reads the value it
// lands on no further than its header unless that value is an array or a map. Every answer is
// the one the decoded object gives.
//
// The bytes are a map in the snapshot writer's form (see format/data_bytes.hpp): text keys, none
// repeated, valid UTF-8. So the first pair with a key is the only one, and text compares and
// prints as its bytes.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "json/json.hpp"
#include "storage/msgpack/cursor.hpp"

namespace tarnwick::store {

class DataField {
 public:
  // The value `path` reaches in `data`, walked as `value_at_path` walks the decoded object;
  // missing when a step is missing or lands on a value that is not a map.
  static DataField at_path(std::span<const std::uint8_t> data, std::string_view path);
  // The value under the top-level key `key`, taken whole (a dot in it is part of the key).
  static DataField at_key(std::span<const std::uint8_t> data, std::string_view key);

  bool missing() const { return !found_; }
  // `json::equal` of the decoded value and `expected`.
  bool equals(const json::Value& expected) const;
  // The decoded value when it is null, a boolean or a number; none for text, an array, a map,
  // or a missing field.
  std::optional<json::Value> scalar() const;
  // Appends `json::print` of the decoded value; true when it is null.
  bool print(std::string& out) const;

 private:
  DataField() = default;
  explicit DataField(const msgpack::Cursor& at) : at_(at), found_(true) {}

  // The found value decoded whole, for an array or a map.
  json::Value decoded() const;

  msgpack::Cursor at_;  // on the found value's header
  bool found_ = false;
};

}  // namespace tarnwick::store
