#pragma once
// The JSON layer: Boost.JSON's value type plus what it lacks here — a parser with exact
// numbers, nesting and trailing-data limits and error offsets; the compact printer with the
// shortest round-trip doubles; value equality; and the descriptions used in reading errors.

#include <boost/json/value.hpp>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::json {

using Value = boost::json::value;
using Object = boost::json::object;
using Array = boost::json::array;
using String = boost::json::string;
using Kind = boost::json::kind;

// Values nested this deep or deeper are refused by the parser.
inline constexpr std::size_t kMaxParseDepth = 127;
// The deepest value the system takes in (the value itself is level 1): anything it stores must
// come back through the parser, also inside a record that nests it further.
inline constexpr std::size_t kMaxValueDepth = 100;

// A parse failure: what went wrong and how many bytes had been read when it was found: the
// offending byte included, the whole text when it ends too soon, and for a number out of range
// up to its last digit.
struct ParseError {
  std::string message;
  std::size_t offset = 0;
};

// Every text reader places a fault at the last byte it had read when it found the fault:
// `offset` counts the bytes read. The line is 1-based; the column is that byte's 1-based place
// on its line, or 0 when nothing of the line has been read (no byte at all, or a line feed last).
struct Position {
  std::uint64_t line = 1;
  std::uint64_t column = 0;
};
Position position_of(std::string_view text, std::size_t offset);
// "<message> at line L column C".
std::string with_position(std::string_view message, std::string_view text, std::size_t offset);

// Parses exactly one JSON value from `text`; only whitespace may follow it. Numbers are read
// exactly (correctly rounded); a number beyond the double range is an error, not an infinity.
// Of two equal keys in one object the later value wins, at the first key's place.
std::expected<Value, ParseError> parse(std::string_view text);

// A number as a JSON value: NaN and infinities have no JSON form and become null.
inline Value number(double d) { return (d - d == 0.0) ? Value(d) : Value(nullptr); }

// A number read as a double: a double unchanged, an integer rounded to the nearest double (ties
// to even); nothing for any other value.
inline std::optional<double> as_double(const Value& v) {
  switch (v.kind()) {
    case Kind::double_: return v.get_double();
    case Kind::int64: return static_cast<double>(v.get_int64());
    case Kind::uint64: return static_cast<double>(v.get_uint64());
    case Kind::null:
    case Kind::bool_:
    case Kind::string:
    case Kind::array:
    case Kind::object: return std::nullopt;
  }
  return std::nullopt;
}

// The value as a finite double, or nothing.
inline std::optional<double> finite_number(const Value& v) {
  const std::optional<double> d = as_double(v);
  if (!d || !std::isfinite(*d)) return std::nullopt;
  return d;
}

// Compact printing: no blanks, integers in decimal, doubles in their shortest round-trip form
// with a fraction or exponent ("1.0", "1e20", "-0.0"), non-finite doubles as null.
void print(std::string& out, const Value& v);
std::string print(const Value& v);
void print(std::string& out, const Object& o);
void print_double(std::string& out, double d);
void print_string(std::string& out, std::string_view s);
void print_integer(std::string& out, std::int64_t i);
void print_integer(std::string& out, std::uint64_t u);

// Whether arrays and objects nest deeper than `levels`, the value itself counting as level 1 when
// it is one. Stops looking at the first level beyond the limit.
bool deeper_than(const Value& v, std::size_t levels);
bool deeper_than(const Object& o, std::size_t levels);
// How many levels arrays and objects nest, counted the same way: 0 for a scalar.
std::size_t nesting_depth(const Value& v);
std::size_t nesting_depth(const Object& o);

// JSON value equality: an integer never equals a double; signed and unsigned integers compare
// by value; 0.0 equals -0.0; objects compare as key sets; arrays in order.
bool equal(const Value& a, const Value& b);

// How reading errors name a value found: "null", "boolean `true`", "integer `7`",
// "floating point `5.0`", "string \"x\"", "sequence", "map".
std::string describe(const Value& v);

}  // namespace tarnwick::json
