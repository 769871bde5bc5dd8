#pragma once
// The reader kit: reads records from JSON values, either an object keyed by field name or an
// array of the field values in field order, with one error text for each way a value can be
// wrong. A record is described once, as a table of fields; `read_record` does the rest.
// Readers consume their input: strings, arrays and objects are moved out of it.

#include <algorithm>
#include <bitset>
#include <cassert>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "json/json.hpp"

namespace tarnwick {

// A reading error: one text, plus the 1-based line and column when the record was read from
// JSON text (line 0 when it was read from a value).
struct ReadError {
  std::string message;
  std::uint64_t line = 0;
  std::uint64_t column = 0;

  // The message alone for a value, "<message> at line L column C" for text.
  std::string text() const;
};

template <class T>
using ReadResult = std::expected<T, ReadError>;

inline std::unexpected<ReadError> read_fail(std::string message) {
  return std::unexpected(ReadError{std::move(message)});
}

// The error texts every reader shares.
std::unexpected<ReadError> invalid_type(const json::Value& found, std::string_view expected);
std::unexpected<ReadError> invalid_value(std::string_view found, std::string_view expected);
std::unexpected<ReadError> invalid_length(std::size_t length, std::string_view expected);
std::unexpected<ReadError> missing_field(std::string_view key);
std::unexpected<ReadError> duplicate_field(std::string_view key);
std::unexpected<ReadError> unknown_variant(std::string_view found, std::string_view expected);

// Scalar and list readers. Integers are accepted for doubles; no double, integral or not, is
// accepted for an integer.
ReadResult<std::string> read_string(json::Value& v);
ReadResult<double> read_f64(json::Value& v);
ReadResult<std::int64_t> read_i64(json::Value& v);
ReadResult<std::uint64_t> read_u64(json::Value& v);
ReadResult<bool> read_bool(json::Value& v);
ReadResult<json::Object> read_object(json::Value& v);
ReadResult<std::vector<double>> read_f64_list(json::Value& v);
ReadResult<std::vector<std::string>> read_string_list(json::Value& v);

// An unsigned integer described as "usize" in errors, as counts and sizes are.
ReadResult<std::uint64_t> read_usize(json::Value& v);

// An enumeration: a variant name as a string, or an object whose one key is the name and whose
// value is null. Gives the name's position in `names`; `expected` lists the names for the
// unknown-variant error ("`out` or `in`").
ReadResult<std::size_t> read_unit_variant(json::Value& v, std::span<const std::string_view> names,
                                          std::string_view expected);

// A JSON array read element by element with `read`; the first failure is passed on unchanged.
template <class F>
auto read_list(json::Value& v, F read)
    -> ReadResult<std::vector<typename std::invoke_result_t<F, json::Value&>::value_type>> {
  json::Array* a = v.if_array();
  if (!a) return invalid_type(v, "a sequence");
  std::vector<typename std::invoke_result_t<F, json::Value&>::value_type> out;
  out.reserve(a->size());
  for (json::Value& e : *a) {
    TARNWICK_TRY_ASSIGN(auto r, read(e));
    out.push_back(std::move(r));
  }
  return out;
}

// Null means absent; anything else is read by `read`.
template <class F>
auto read_optional(json::Value& v, F read)
    -> ReadResult<std::optional<typename std::invoke_result_t<F, json::Value&>::value_type>> {
  if (v.is_null()) return std::nullopt;
  TARNWICK_TRY_ASSIGN(auto r, read(v));
  return std::optional(std::move(r));
}

// Stores the read value into a record field, or passes the error on.
template <class T, class U>
ReadResult<void> assign(T& field, ReadResult<U>&& r) {
  if (!r) return std::unexpected(std::move(r).error());
  field = std::move(*r);
  return {};
}

// One field of a record: its key, whether it must be given, and how its value is read from the
// input (a JSON value here, or the next value of a JSON text, model/text_reader.hpp).
template <class R, class In = json::Value>
struct FieldSpec {
  std::string_view key;
  bool required;
  ReadResult<void> (*read)(In&, R&);
};

template <class R, class In = json::Value>
struct RecordSpec {
  std::string_view description;        // "struct Node"
  std::string_view array_description;  // "struct Node with 15 elements"
  std::span<const FieldSpec<R, In>> fields;
};

// Reads a record from an object or an array. Fields not given keep their value in `record`,
// which therefore carries the defaults. In an object, keys that name no field are skipped
// unexamined, values are read in the object's order and a repeated field is refused; only then
// is the first missing required field, in field order, reported.
template <class R>
ReadResult<R> read_record(json::Value& v, const RecordSpec<R>& spec, R record = R{}) {
  const auto fields = spec.fields;
  assert(fields.size() <= 64 && "the given-field set holds 64 fields");
  if (json::Object* obj = v.if_object()) {
    std::bitset<64> given;
    for (auto& kv : *obj) {
      const std::string_view key = kv.key();
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].key != key) continue;
        if (given[i]) return duplicate_field(key);
        given[i] = true;
        TARNWICK_TRY(fields[i].read(kv.value(), record));
        break;
      }
    }
    for (std::size_t i = 0; i < fields.size(); ++i)
      if (fields[i].required && !given[i]) return missing_field(fields[i].key);
    return record;
  }
  if (json::Array* arr = v.if_array()) {
    const std::size_t n = std::min(arr->size(), fields.size());
    for (std::size_t i = 0; i < n; ++i)
      TARNWICK_TRY(fields[i].read((*arr)[i], record));
    for (std::size_t i = n; i < fields.size(); ++i)
      if (fields[i].required) return invalid_length(i, spec.array_description);
    if (arr->size() > fields.size()) return invalid_length(arr->size(), "fewer elements in array");
    return record;
  }
  return invalid_type(v, spec.description);
}

}  // namespace tarnwick
